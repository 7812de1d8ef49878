#pragma once

#include <cstdint>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "apps/service/task/download_task.h"
#include "apps/service/engine/start_mode.h"

namespace vn {

class RunSlots;
class WaitClock;
struct GlobalSpeedLimit;

// Failure text of a waiting run whose thread could not be started.
inline constexpr const char* kRunNotStarted = "Failed to start the download";

// Starts HTTP downloads, each on a detached thread of its own (a "run"), and
// steers them by id through a process-wide run registry. At most
// maxActiveRuns runs of one engine exist at once; further runs wait, in the
// order they were queued, and start as runs end (a waiting run is listed as
// the task was queued, and a stop of it ends it as soon as it starts). Every
// operation may be called from any thread; control operations on an unknown
// id do nothing. The callback is never called while an engine lock is held.
class DownloadEngine {
 public:
  using TaskUpdateCallback = std::function<void(const DownloadTask& task)>;

  // Each run of a small file takes two threads and of a large one up to 33;
  // sixteen runs keep a 2-core machine busy on small files without the thread
  // count of a large batch growing past a hundred or so.
  static constexpr std::size_t kDefaultActiveRuns = 16;

  // Tests pass a small bound to see runs wait.
  explicit DownloadEngine(std::size_t maxActiveRuns = kDefaultActiveRuns);

  // Runs started later report through this callback; called once before Queue.
  void SetTaskUpdateCallback(TaskUpdateCallback callback);
  // Runs queued later do their timed waits on clock, which must outlive them
  // (tests hand in one that costs no time); the steady clock otherwise.
  // Called before Queue.
  void SetWaitClock(WaitClock& clock);

  // Settles the file name of a run whose task has nameFromServerAllowed, from
  // the first probe's raw Content-Disposition; returns the name the run uses.
  // Called on run threads, never with an engine lock held. Set once before
  // Queue; without one such runs keep their names.
  using FileNameCallback =
      std::function<std::string(const DownloadTask& run, const std::string& contentDisposition)>;
  void SetFileNameCallback(FileNameCallback callback);

  // Starts a run of a copy of task, or lets it wait for a slot, and returns
  // at once. The run waits until
  // every earlier run of the id has ended before it touches the download's
  // files; with StartMode::FromZero it then removes them and starts over.
  // Throws std::system_error when the thread cannot be started at once; the
  // run this one replaced is then the id's run again. A waiting run whose
  // thread cannot be started later reports Failed with kRunNotStarted.
  void Queue(const DownloadTask& task, StartMode mode = StartMode::Continue);

  void Pause(const std::string& id);
  // True when the id's run takes the cancel: it removes the files and reports
  // Cancelled (or Completed or Failed when the cancel came too late). False
  // when there is no run or it is already ending paused; the files are then
  // the caller's to remove.
  bool Cancel(const std::string& id);
  // Takes back a pause or cancel of the id's run. False when there is no run
  // or it has already acted on its stop (it is ending); a new run is needed.
  bool Resume(const std::string& id);
  bool IsRunning(const std::string& id) const;
  void SetSpeedLimit(const std::string& id, bool enabled, std::int64_t bytesPerSecond);
  // Caps the sum of all runs of this engine, those running and those to come,
  // on top of each run's own limit; off unless enabled and bytesPerSecond >= 1.
  void SetGlobalSpeedLimit(bool enabled, std::int64_t bytesPerSecond);

 private:
  TaskUpdateCallback onTaskUpdate;
  WaitClock* waitClock;
  FileNameCallback settleFileName;
  std::shared_ptr<RunSlots> slots;
  std::shared_ptr<GlobalSpeedLimit> globalLimit;
};

}  // namespace vn

#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "apps/service/task/download_task.h"
#include "apps/service/engine/start_mode.h"

namespace vn {

// Starts HTTP downloads, each on a detached thread of its own (a "run"), and
// steers them by id through a process-wide run registry. Every operation may be
// called from any thread; control operations on an unknown id do nothing.
// The callback is never called while an engine lock is held.
class DownloadEngine {
 public:
  using TaskUpdateCallback = std::function<void(const DownloadTask& task)>;

  DownloadEngine() = default;

  // Runs started later report through this callback; called once before Queue.
  void SetTaskUpdateCallback(TaskUpdateCallback callback);

  // Starts a run of a copy of task and returns at once. The run waits until
  // every earlier run of the id has ended before it touches the download's
  // files; with StartMode::FromZero it then removes them and starts over.
  // Throws std::system_error when the thread cannot be started; the run this
  // one replaced is then the id's run again.
  void Queue(const DownloadTask& task, StartMode mode = StartMode::Continue);

  void Pause(const std::string& id);
  void Cancel(const std::string& id);
  // Takes back a pause or cancel of the id's run. False when there is no run
  // or it has already acted on its stop (it is ending); a new run is needed.
  bool Resume(const std::string& id);
  bool IsRunning(const std::string& id) const;
  void SetSpeedLimit(const std::string& id, bool enabled, std::int64_t bytesPerSecond);

 private:
  TaskUpdateCallback onTaskUpdate;
};

}  // namespace vn

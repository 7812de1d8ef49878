#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "apps/service/engine/download_task.h"

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

  // Starts a run of a copy of task and returns at once. Throws std::system_error
  // when the thread cannot be started.
  void Queue(const DownloadTask& task);

  void Pause(const std::string& id);
  void Cancel(const std::string& id);
  void Resume(const std::string& id);
  bool IsRunning(const std::string& id) const;
  void SetSpeedLimit(const std::string& id, bool enabled, std::int64_t bytesPerSecond);

 private:
  TaskUpdateCallback onTaskUpdate;
};

}  // namespace vn

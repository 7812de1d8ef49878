#pragma once

// The control block of one run, private to the engine. Shared (reference
// counted) by the run registry entry, the run thread and its segment workers;
// it lives until the last of them lets go.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vn {

struct DownloadControl {
  // Flags and limit: any thread, lock-free. Writers store pauseRequested
  // before stopRequested, so a reader that sees a stop also sees the pause
  // flag that belongs to it.
  std::atomic<bool> stopRequested{false};
  std::atomic<bool> pauseRequested{false};
  std::atomic<bool> speedLimitEnabled{false};
  std::atomic<std::int64_t> speedLimit{0};

  // Throttling window shared by all workers of the run. Never held together
  // with a run's segment mutex, never held while sleeping.
  std::mutex limiterMutex;
  std::chrono::steady_clock::time_point windowStart =
      std::chrono::steady_clock::now();  // guarded by limiterMutex
  std::int64_t windowBytes = 0;          // guarded by limiterMutex

  // Set once, when this run has ended and no longer touches the download's
  // files; a later run of the same id waits for it before it starts.
  std::mutex finishMutex;
  std::condition_variable finishSignal;
  bool finished = false;  // guarded by finishMutex

  void MarkFinished() {
    {
      std::lock_guard lock(finishMutex);
      finished = true;
    }
    finishSignal.notify_all();
  }

  // Waits until this run has finished or the other run's stop flag is raised
  // (checked every few milliseconds). Returns true when finished.
  bool WaitFinished(const std::atomic<bool>& otherStop) {
    std::unique_lock lock(finishMutex);
    while (!finished) {
      if (otherStop.load()) return false;
      finishSignal.wait_for(lock, std::chrono::milliseconds(20));
    }
    return true;
  }
};

}  // namespace vn

#pragma once

// The control block of one run, private to the engine. Shared (reference
// counted) by the run registry entry, the run thread and its segment workers;
// it lives until the last of them lets go.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "apps/service/engine/global_speed_limit.h"
#include "apps/service/engine/wait_clock.h"
#include "apps/service/task/download_task.h"

namespace vn {

struct DownloadControl {
  // Flags and limit: any thread, lock-free. Writers store pauseRequested
  // before stopRequested, so a reader that sees a stop also sees the pause
  // flag that belongs to it.
  std::atomic<bool> stopRequested{false};
  std::atomic<bool> pauseRequested{false};
  std::atomic<bool> speedLimitEnabled{false};
  std::atomic<std::int64_t> speedLimit{0};

  // Settles the name of a run whose task has nameFromServerAllowed, given the
  // probe's raw Content-Disposition (maybe empty); returns the name the run
  // must use. Called on the run thread with no lock held, before any file of
  // the download is touched. Empty: the name stays. Set before the run starts.
  std::function<std::string(const DownloadTask& run, const std::string& contentDisposition)>
      settleFileName;

  // The engine's limit on all runs together; null when the run has none. Set
  // before the run starts, then only read.
  std::shared_ptr<GlobalSpeedLimit> globalLimit;

  // Every timed wait of the run reads this clock. Not owned; it outlives the
  // control block. Set before the run starts, then only read.
  WaitClock* clock = &SteadyWaitClock();

  // Throttling window shared by all workers of the run. Never held together
  // with a run's segment mutex, never held while sleeping.
  std::mutex limiterMutex;
  WaitClock::TimePoint windowStart = clock->Now();  // guarded by limiterMutex
  std::int64_t windowBytes = 0;                     // guarded by limiterMutex

  // Once the run has acted on a stop (it is ending Paused or Cancelled) a
  // resume can no longer revive it. revivals counts the stops a resume took
  // back, so the run can tell workers that stopped for a revoked stop.
  std::mutex settleMutex;
  bool stopSettled = false;   // guarded by settleMutex
  bool endingPaused = false;  // guarded by settleMutex
  std::atomic<int> revivals{0};

  // Run thread: whether a stop is requested; if so, the run is now ending.
  bool SettleStop() {
    std::lock_guard lock(settleMutex);
    stopSettled = stopRequested.load();
    return stopSettled;
  }

  // Run thread, ending for a settled stop: whether it ends paused. From then
  // on a cancel cannot change how the run ends (see RequestCancel).
  bool SettlePause() {
    std::lock_guard lock(settleMutex);
    endingPaused = pauseRequested.load();
    return endingPaused;
  }

  // Asks the run to end cancelled. False when it is already ending paused:
  // it will keep the files, so whoever cancels must remove them.
  bool RequestCancel() {
    std::lock_guard lock(settleMutex);
    if (endingPaused) return false;
    pauseRequested.store(false);
    stopRequested.store(true);
    return true;
  }

  // Takes back a stop unless the run has already acted on it.
  bool Revive() {
    std::lock_guard lock(settleMutex);
    if (stopSettled) return false;
    pauseRequested.store(false);
    if (stopRequested.exchange(false)) ++revivals;
    return true;
  }

  // Ordering of the runs of one id. A run touches the download's files only
  // after every earlier run of the id has ended; a stop request does not
  // shorten that wait, because a stopped run is alive until it returns.
  std::mutex finishMutex;
  std::condition_variable finishSignal;
  bool finished = false;                     // guarded by finishMutex
  std::shared_ptr<DownloadControl> previous;  // guarded by finishMutex; the run this one follows

  // Marks this run as ended. A run that ran had waited for its predecessors,
  // so it lets go of them; a run whose thread never started keeps them, and
  // whoever follows it waits for them through it.
  void MarkFinished(bool ran) {
    std::shared_ptr<DownloadControl> released;
    {
      std::lock_guard lock(finishMutex);
      finished = true;
      if (ran) released = std::move(previous);
    }
    finishSignal.notify_all();
  }

  // Blocks until every earlier run of the id has ended. Bounded by those runs,
  // each of which ends on its own (every request has its timeouts).
  void WaitForEarlierRuns() {
    std::shared_ptr<DownloadControl> current;
    {
      std::lock_guard lock(finishMutex);
      current = previous;
    }
    while (current) {
      std::unique_lock lock(current->finishMutex);
      current->finishSignal.wait(lock, [&] { return current->finished; });
      auto next = current->previous;
      lock.unlock();
      current = std::move(next);
    }
  }
};

}  // namespace vn

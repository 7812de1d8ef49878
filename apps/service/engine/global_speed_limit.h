#pragma once

// The limit on the sum of all HTTP downloads of one engine, on top of each
// download's own limit. Owned jointly (reference counted) by the engine and the
// control block of every run it started, so a detached run may outlive the
// engine. Kept in memory only: it does not outlive the service.

#include <atomic>
#include <cstdint>
#include <mutex>

#include "apps/service/engine/wait_clock.h"

namespace vn {

struct GlobalSpeedLimit {
  // Any thread, lock-free; the limit is off while enabled is false.
  std::atomic<bool> enabled{false};
  std::atomic<std::int64_t> bytesPerSecond{0};

  // Every wait for a turn reads this clock. Not owned; set before any run
  // shares the limit, then only read.
  WaitClock* clock = &SteadyWaitClock();

  // The bytes of all runs pass one after the other, each in its turn at the
  // limit's pace. Never held while sleeping, nor together with a run's own
  // limiter mutex or segment mutex.
  std::mutex mutex;
  WaitClock::TimePoint nextTurn = clock->Now();  // guarded by mutex
  // Counts the settings made; a wait for a turn given under an earlier one ends.
  std::atomic<std::uint64_t> setting{0};
};

}  // namespace vn

#pragma once

// The clock behind the engine's timed waits: the speed limiter's window, the
// pause before a segment retry and the probe's back-off. Production uses the
// steady clock; tests hand in a clock of their own, so that waiting is
// deterministic and costs no time.

#include <atomic>
#include <chrono>

namespace vn {

class WaitClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  virtual ~WaitClock() = default;
  // Any thread, concurrently.
  virtual TimePoint Now() = 0;
  // Blocks the calling thread until Now() has reached until. Any thread.
  virtual void SleepUntil(TimePoint until) = 0;
};

// The steady clock and real sleeps; lives as long as the program.
WaitClock& SteadyWaitClock();

// Sleeps on clock for delay unless stopRequested is raised first (looked at
// every 20 ms); true when it slept the whole time.
bool SleepUnlessStopped(WaitClock& clock, std::chrono::milliseconds delay,
                        const std::atomic<bool>& stopRequested);

}  // namespace vn

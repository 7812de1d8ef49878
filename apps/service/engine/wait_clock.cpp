#include "apps/service/engine/wait_clock.h"

#include <algorithm>
#include <thread>

namespace vn {
namespace {

constexpr auto kStopPollInterval = std::chrono::milliseconds(20);

class SteadyClock final : public WaitClock {
 public:
  TimePoint Now() override { return std::chrono::steady_clock::now(); }
  void SleepUntil(TimePoint until) override { std::this_thread::sleep_until(until); }
};

}  // namespace

WaitClock& SteadyWaitClock() {
  static SteadyClock clock;
  return clock;
}

bool SleepUnlessStopped(WaitClock& clock, std::chrono::milliseconds delay,
                        const std::atomic<bool>& stopRequested) {
  const auto until = clock.Now() + delay;
  for (auto now = clock.Now(); now < until; now = clock.Now()) {
    if (stopRequested.load()) return false;
    clock.SleepUntil(std::min(until, now + kStopPollInterval));
  }
  return !stopRequested.load();
}

}  // namespace vn

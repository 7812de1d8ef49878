#include "apps/service/engine/wait_clock.h"

#include <thread>

namespace vn {
namespace {

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

}  // namespace vn

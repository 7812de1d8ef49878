#include "apps/service/engine/speed_limiter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace vn {
namespace {

// A limit switched between 0 and 1 by another thread while the window is
// overdue: every decision must work with one reading of the limit. A second
// reading that sees 0 would divide by it, and the test would die of SIGFPE.
TEST(SpeedLimiter, LimitSwitchedOffDuringADecisionNeverDividesByZero) {
  DownloadControl control;
  control.speedLimitEnabled.store(true);
  control.stopRequested.store(true);  // each call decides once, then returns
  std::atomic<bool> done{false};
  std::thread toggler([&] {
    for (std::int64_t i = 0; !done.load(); ++i) control.speedLimit.store(i % 2);
  });
  for (int i = 0; i < 200000; ++i) {
    {
      std::lock_guard lock(control.limiterMutex);
      control.windowStart = std::chrono::steady_clock::now() - std::chrono::seconds(5);
    }
    ThrottleTransfer(control, 1);
  }
  done.store(true);
  toggler.join();
  std::lock_guard lock(control.limiterMutex);
  EXPECT_LE(control.windowBytes, 200000);
}

}  // namespace
}  // namespace vn

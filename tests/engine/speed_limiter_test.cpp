#include "apps/service/engine/speed_limiter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "tests/engine/fake_wait_clock.h"

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

// The chunks written one after the other, and the time they may take at the
// limit: the budget of each second is spent before the next is waited for,
// and what goes beyond it is paid in later seconds.
TEST(SpeedLimiter, WaitsExactlyAsLongAsTheLimitDemands) {
  using std::chrono::milliseconds;
  struct Case {
    std::int64_t limit;  // 0: limit off
    std::vector<std::int64_t> chunks;
    milliseconds waited;
    bool stopped = false;
  };
  const Case cases[] = {
      {1000, {1000}, milliseconds(0)},
      {1000, {3000}, milliseconds(2000)},
      {1000, {500, 500, 500, 500}, milliseconds(1000)},
      {1000, std::vector<std::int64_t>(10, 1000), milliseconds(9000)},
      {1000, {999, 2}, milliseconds(1000)},
      {0, {1 << 30, 1 << 30}, milliseconds(0)},
      {1000, {5000}, milliseconds(0), true},
  };
  for (const Case& c : cases) {
    test::FakeWaitClock clock;
    DownloadControl control;
    control.clock = &clock;
    ResetThrottleWindow(control);
    control.speedLimitEnabled.store(c.limit > 0);
    control.speedLimit.store(c.limit);
    control.stopRequested.store(c.stopped);
    for (const std::int64_t chunk : c.chunks) ThrottleTransfer(control, chunk);
    EXPECT_EQ(clock.Waited(), c.waited) << c.limit << " / " << c.chunks.size() << " chunks";
  }
}

// Two runs share one global limit on top of their own: each chunk waits until
// the chunks before it, of either run, have passed at the global pace, and
// for its own run's window as well.
TEST(SpeedLimiter, GlobalLimitCapsTheSumOfAllRuns) {
  using std::chrono::milliseconds;
  struct Case {
    std::int64_t global;                               // 0: off
    std::int64_t ownOfFirst;                           // 0: off
    std::vector<std::pair<int, std::int64_t>> chunks;  // run 0 or 1, bytes
    milliseconds waited;
  };
  const Case cases[] = {
      {1000, 0, {{0, 1000}, {1, 1000}}, milliseconds(1000)},
      {1000, 0, {{0, 500}, {1, 500}, {0, 500}, {1, 500}}, milliseconds(1500)},
      {1000, 0, {{0, 1000}, {1, 1000}, {0, 1000}, {1, 1000}}, milliseconds(3000)},
      {1000, 0, {{0, 999}}, milliseconds(0)},
      {1000, 500, {{0, 1000}}, milliseconds(1000)},
      {500, 1000, {{0, 1000}, {1, 1}}, milliseconds(2000)},
      {500, 1000, {{0, 1000}, {0, 1000}}, milliseconds(2000)},
      {0, 0, {{0, 1 << 30}, {1, 1 << 30}}, milliseconds(0)},
  };
  for (const Case& c : cases) {
    test::FakeWaitClock clock;
    auto global = std::make_shared<GlobalSpeedLimit>();
    global->clock = &clock;
    SetGlobalSpeedLimit(*global, c.global > 0, c.global);
    DownloadControl runs[2];
    for (DownloadControl& run : runs) {
      run.clock = &clock;
      run.globalLimit = global;
      ResetThrottleWindow(run);
    }
    runs[0].speedLimitEnabled.store(c.ownOfFirst > 0);
    runs[0].speedLimit.store(c.ownOfFirst);
    for (const auto& [run, bytes] : c.chunks) ThrottleTransfer(runs[run], bytes);
    EXPECT_EQ(clock.Waited(), c.waited) << c.global << " / " << c.ownOfFirst;
  }
}

}  // namespace
}  // namespace vn

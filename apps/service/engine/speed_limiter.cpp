#include "apps/service/engine/speed_limiter.h"

#include <algorithm>
#include <chrono>
#include <mutex>

namespace vn {
namespace {

using TimePoint = WaitClock::TimePoint;
constexpr auto kWindow = std::chrono::seconds(1);
// Sleeps are cut into slices so that a stop or a new limit is seen quickly.
constexpr auto kSleepSlice = std::chrono::milliseconds(50);

// The limit in force, 0 when none. Another thread may switch the limit off
// at any moment, so each decision reads it once and uses only that value.
std::int64_t CurrentLimit(const DownloadControl& control) {
  if (!control.speedLimitEnabled.load()) return 0;
  return std::max<std::int64_t>(0, control.speedLimit.load());
}

// Moves the window forward over every whole second that has passed, paying
// the budget of each passed window out of the bytes counted. limit > 0;
// limiterMutex held.
void AdvanceWindow(DownloadControl& control, TimePoint now, std::int64_t limit) {
  const auto passed = now - control.windowStart;
  if (passed < kWindow) return;
  const auto windows = passed / kWindow;
  control.windowStart += windows * kWindow;
  if (windows > control.windowBytes / limit) {
    control.windowBytes = 0;
  } else {
    control.windowBytes -= static_cast<std::int64_t>(windows) * limit;
  }
}

// The time bytes take at limit bytes per second; limit > 0.
WaitClock::TimePoint::duration TimeFor(std::int64_t bytes, std::int64_t limit) {
  return std::chrono::duration_cast<WaitClock::TimePoint::duration>(
      std::chrono::duration<double>(static_cast<double>(bytes) / static_cast<double>(limit)));
}

// Queues bytes behind every byte already let through the global limit and
// sleeps until their turn. Turns go in the order the workers ask, whichever
// run they belong to, so runs with as many connections get equal shares; a
// share that one run leaves unused goes to the others. Time that passed with
// nothing to send is not saved up for a later burst.
void WaitForGlobalTurn(GlobalSpeedLimit& global, const std::atomic<bool>& stopRequested,
                       std::int64_t bytes) {
  if (!global.enabled.load()) return;
  WaitClock& clock = *global.clock;
  TimePoint turn;
  std::uint64_t setting = 0;
  {
    std::lock_guard lock(global.mutex);
    const std::int64_t limit = global.enabled.load() ? global.bytesPerSecond.load() : 0;
    if (limit <= 0) return;
    turn = std::max(global.nextTurn, clock.Now());
    global.nextTurn = turn + TimeFor(bytes, limit);
    setting = global.setting.load();
  }
  // A new setting, a stop or a lifted limit lets the bytes through at once.
  while (clock.Now() < turn) {
    if (stopRequested.load() || !global.enabled.load() || global.setting.load() != setting) return;
    clock.SleepUntil(std::min(turn, clock.Now() + kSleepSlice));
  }
}

// The run's own one-second window; see ThrottleTransfer.
void ThrottleOwnLimit(DownloadControl& control, std::int64_t bytes) {
  const std::int64_t firstLimit = CurrentLimit(control);
  if (firstLimit == 0) return;
  std::unique_lock lock(control.limiterMutex);
  WaitClock& clock = *control.clock;
  AdvanceWindow(control, clock.Now(), firstLimit);
  control.windowBytes += bytes;
  while (true) {
    if (control.stopRequested.load()) return;
    const std::int64_t limit = CurrentLimit(control);
    if (limit == 0) return;
    AdvanceWindow(control, clock.Now(), limit);
    if (control.windowBytes <= limit) return;
    const auto windowEnd = control.windowStart + kWindow;
    lock.unlock();
    clock.SleepUntil(std::min(windowEnd, clock.Now() + kSleepSlice));
    lock.lock();
  }
}

}  // namespace

void ThrottleTransfer(DownloadControl& control, std::int64_t bytes) {
  ThrottleOwnLimit(control, bytes);
  if (control.globalLimit) WaitForGlobalTurn(*control.globalLimit, control.stopRequested, bytes);
}

void ResetThrottleWindow(DownloadControl& control) {
  std::lock_guard lock(control.limiterMutex);
  control.windowStart = control.clock->Now();
  control.windowBytes = 0;
}

void SetGlobalSpeedLimit(GlobalSpeedLimit& global, bool enabled, std::int64_t bytesPerSecond) {
  std::lock_guard lock(global.mutex);
  global.enabled.store(enabled && bytesPerSecond >= 1);
  global.bytesPerSecond.store(std::max<std::int64_t>(0, bytesPerSecond));
  global.nextTurn = global.clock->Now();
  ++global.setting;
}

}  // namespace vn

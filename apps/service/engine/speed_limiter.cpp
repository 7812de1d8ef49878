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

}  // namespace

void ThrottleTransfer(DownloadControl& control, std::int64_t bytes) {
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

void ResetThrottleWindow(DownloadControl& control) {
  std::lock_guard lock(control.limiterMutex);
  control.windowStart = control.clock->Now();
  control.windowBytes = 0;
}

}  // namespace vn

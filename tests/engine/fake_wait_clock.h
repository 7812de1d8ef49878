#pragma once

// A clock that moves only when someone sleeps on it: a sleep ends at once,
// with the time moved to its end, and the time waited adds up. Any thread.

#include <mutex>

#include "apps/service/engine/wait_clock.h"

namespace vn::test {

class FakeWaitClock final : public WaitClock {
 public:
  TimePoint Now() override {
    std::lock_guard lock(mutex);
    return now;
  }
  void SleepUntil(TimePoint until) override {
    std::lock_guard lock(mutex);
    if (until > now) {
      waited += until - now;
      now = until;
    }
  }
  // All the time slept on this clock so far.
  std::chrono::milliseconds Waited() {
    std::lock_guard lock(mutex);
    return std::chrono::duration_cast<std::chrono::milliseconds>(waited);
  }

 private:
  std::mutex mutex;
  TimePoint now{std::chrono::hours(1)};  // guarded by mutex
  TimePoint::duration waited{};          // guarded by mutex
};

}  // namespace vn::test

#pragma once

// The one way a test waits for something to happen: poll a condition, bounded
// by a timeout. Any thread; the condition runs on the calling thread.

#include <algorithm>
#include <chrono>
#include <thread>

namespace vn::test {

inline constexpr auto kPollInterval = std::chrono::milliseconds(20);
inline constexpr auto kWaitTimeout = std::chrono::seconds(30);

// Checks condition until it holds or timeout has passed, pausing interval
// between checks; true when it held. It is checked once more at the deadline,
// so a slow check is never cut short.
template <typename Condition>
bool WaitUntil(Condition&& condition, std::chrono::milliseconds timeout = kWaitTimeout,
               std::chrono::milliseconds interval = kPollInterval) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(interval, deadline - now));
  }
  return true;
}

}  // namespace vn::test

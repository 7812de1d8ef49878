#pragma once

// A failure that may well pass by itself: the server or the network is away
// for a while (refused, reset or timed-out connections, names that do not
// resolve, 5xx, 429, a body that stalls). The task runner waits such a failure
// out instead of failing the download. Any thread.

#include <chrono>
#include <stdexcept>
#include <string>

#include "platform/http.h"

namespace vn {

class TransientFailure : public std::runtime_error {
 public:
  // retryAfter: the least pause the server asked for (0: none).
  explicit TransientFailure(const std::string& text,
                            std::chrono::seconds retryAfter = std::chrono::seconds(0))
      : std::runtime_error(text), retryAfterDelay(retryAfter) {}

  std::chrono::seconds retryAfter() const { return retryAfterDelay; }

 private:
  std::chrono::seconds retryAfterDelay;
};

// Whether an answer's status says "later": 5xx or 429.
bool IsTransientStatus(long status);

// The pause a Retry-After value asks for: delay-seconds, or an HTTP date
// measured from now (the system clock). 0 for an absent, malformed or past
// value. Pure but for reading the clock.
std::chrono::seconds RetryAfterDelay(const std::string& retryAfter);

}  // namespace vn

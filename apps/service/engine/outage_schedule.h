#pragma once

// How long a run waits out transient failures. The pauses grow 1, 2, 4 ... up
// to 30 s, are never shorter than the server's Retry-After (itself capped at
// 5 minutes), and start again at 1 s once a byte has arrived. After 10
// minutes without a byte the run gives up. Pure: the caller brings the time
// and the byte count; one run thread uses an instance.

#include <chrono>
#include <cstdint>
#include <optional>

#include "apps/service/engine/wait_clock.h"

namespace vn {

class OutageSchedule {
 public:
  using Duration = std::chrono::milliseconds;

  static constexpr Duration kFirstPause = std::chrono::seconds(1);
  static constexpr Duration kLongestPause = std::chrono::seconds(30);
  static constexpr Duration kLongestRetryAfter = std::chrono::minutes(5);
  static constexpr Duration kGiveUpAfter = std::chrono::minutes(10);

  // start: when the run began; bytes: what it held then.
  OutageSchedule(WaitClock::TimePoint start, std::int64_t bytes);

  // After a transient failure at now, with bytes held now: the pause before
  // the next try, or nullopt when no byte arrived for kGiveUpAfter. Bytes
  // beyond the previous count are progress.
  std::optional<Duration> NextPause(WaitClock::TimePoint now, std::int64_t bytes,
                                    std::chrono::seconds retryAfter);

 private:
  WaitClock::TimePoint lastProgress;
  std::int64_t lastBytes;
  Duration nextPause = kFirstPause;
};

}  // namespace vn

#include "apps/service/engine/outage_schedule.h"

#include <algorithm>

namespace vn {

OutageSchedule::OutageSchedule(WaitClock::TimePoint start, std::int64_t bytes)
    : lastProgress(start), lastBytes(bytes) {}

std::optional<OutageSchedule::Duration> OutageSchedule::NextPause(
    WaitClock::TimePoint now, std::int64_t bytes, std::chrono::seconds retryAfter) {
  if (bytes > lastBytes) {
    lastProgress = now;
    nextPause = kFirstPause;
  }
  // A count that fell (progress thrown away) is the new base line.
  lastBytes = bytes;
  if (now - lastProgress >= kGiveUpAfter) return std::nullopt;
  const Duration pause = std::max<Duration>(nextPause, std::min<Duration>(retryAfter, kLongestRetryAfter));
  nextPause = std::min(nextPause * 2, kLongestPause);
  return pause;
}

}  // namespace vn

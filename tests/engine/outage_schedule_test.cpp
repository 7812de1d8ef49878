#include "apps/service/engine/outage_schedule.h"

#include <gtest/gtest.h>

#include <ctime>

#include "apps/service/engine/transient_failure.h"

namespace vn {
namespace {

using std::chrono::milliseconds;
using std::chrono::minutes;
using std::chrono::seconds;

TEST(OutageSchedule, PausesGrowToHalfAMinuteHonourRetryAfterAndGiveUpAfterTenIdleMinutes) {
  struct Step {
    milliseconds at;  // since the run began
    std::int64_t bytes;
    seconds retryAfter;
    milliseconds pause;  // 0: the run gives up
  };
  const Step steps[] = {
      {seconds(1), 100, seconds(0), seconds(1)},  // no byte since the start
      {seconds(3), 100, seconds(0), seconds(2)},
      {seconds(6), 100, seconds(0), seconds(4)},
      {seconds(11), 100, seconds(0), seconds(8)},
      {seconds(20), 100, seconds(0), seconds(16)},
      {seconds(37), 100, seconds(0), seconds(30)},
      {seconds(68), 100, seconds(0), seconds(30)},
      {seconds(99), 100, seconds(120), seconds(120)},  // the server asks for longer
      {seconds(220), 100, seconds(3600), minutes(5)},  // but never past five minutes
      {seconds(521), 200, seconds(0), seconds(1)},     // a byte: the pauses start over
      {seconds(523), 200, seconds(0), seconds(2)},
      {seconds(521) + minutes(10) - milliseconds(1), 200, seconds(0), seconds(4)},
      {seconds(521) + minutes(10), 200, seconds(0), milliseconds(0)},
  };
  const WaitClock::TimePoint start{std::chrono::hours(1)};
  OutageSchedule schedule(start, 100);
  for (const Step& step : steps) {
    const auto pause = schedule.NextPause(start + step.at, step.bytes, step.retryAfter);
    EXPECT_EQ(pause.value_or(milliseconds(0)), step.pause) << step.at.count();
  }
}

TEST(OutageSchedule, RetryAfterReadsSecondsAndDates) {
  char future[64];
  const std::time_t inAMinute = std::time(nullptr) + 60;
  std::strftime(future, sizeof future, "%a, %d %b %Y %H:%M:%S GMT", std::gmtime(&inAMinute));
  const std::pair<std::string, seconds> cases[] = {
      {"", seconds(0)},
      {"120", seconds(120)},
      {"99999999999999999999", seconds(86400)},
      {"12x", seconds(0)},
      {"-5", seconds(0)},
      {"Sun, 06 Nov 1994 08:49:37 GMT", seconds(0)},  // past
      {"tomorrow", seconds(0)},
  };
  for (const auto& [text, delay] : cases) EXPECT_EQ(RetryAfterDelay(text), delay) << text;
  const seconds fromDate = RetryAfterDelay(future);
  EXPECT_GE(fromDate, seconds(58));
  EXPECT_LE(fromDate, seconds(60));
}

}  // namespace
}  // namespace vn

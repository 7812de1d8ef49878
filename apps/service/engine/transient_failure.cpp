#include "apps/service/engine/transient_failure.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <ctime>
#include <iomanip>
#include <sstream>

namespace vn {
namespace {

// Seconds since 1970 of a UTC calendar time; the C library has no portable
// inverse of gmtime.
std::int64_t UtcSeconds(const std::tm& parts) {
  const std::int64_t month = parts.tm_mon + 1;
  const std::int64_t year = parts.tm_year + 1900 - (month <= 2 ? 1 : 0);
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + parts.tm_mday - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const std::int64_t days = era * 146097 + dayOfEra - 719468;
  return days * 86400 + parts.tm_hour * 3600 + parts.tm_min * 60 + parts.tm_sec;
}

}  // namespace

bool IsTransientStatus(long status) { return status >= 500 || status == 429; }

std::chrono::seconds RetryAfterDelay(const std::string& retryAfter) {
  using std::chrono::seconds;
  if (retryAfter.empty()) return seconds(0);
  if (std::isdigit(static_cast<unsigned char>(retryAfter.front()))) {
    std::int64_t value = 0;
    for (const char c : retryAfter) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return seconds(0);
      // Anything past a day is as good as a day: the caller caps it far lower.
      value = std::min<std::int64_t>(value * 10 + (c - '0'), 86400);
    }
    return seconds(value);
  }
  // "Sun, 06 Nov 1994 08:49:37 GMT", the one date form servers must send.
  std::tm parts{};
  std::istringstream text(retryAfter);
  text.imbue(std::locale::classic());
  text >> std::get_time(&parts, "%a, %d %b %Y %H:%M:%S GMT");
  if (text.fail()) return seconds(0);
  const std::int64_t at = UtcSeconds(parts);
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  return at > now ? seconds(at - now) : seconds(0);
}

}  // namespace vn

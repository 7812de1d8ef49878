#pragma once

// The Content-Range of a 206 answer (RFC 9110): "bytes first-last/total", the
// total "*" when the server does not know it. A 206 without a valid one names
// no place in the file for its bytes, so they are never taken as the file.
// Pure functions; any thread.

#include <cstdint>
#include <optional>
#include <string_view>

namespace vn {

inline constexpr const char* kPartialWithoutContentRange =
    "Server returned HTTP 206 without a Content-Range";

struct ContentRange {
  std::int64_t first = 0;
  std::int64_t last = 0;
  std::int64_t total = -1;  // -1: "*", unknown
};

// The range of value when it is "bytes first-last/total" or ".../*" (the unit
// in any case, blanks after it and at the end allowed) with first <= last and,
// for a known total, last < total; nullopt for any other value.
std::optional<ContentRange> ParseContentRange(std::string_view value);

}  // namespace vn

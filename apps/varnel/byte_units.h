#pragma once

// Human byte counts and rates, as people type them and as varnel prints them.
// K, M, G and T (with or without "B" or "iB") are powers of 1024 in both
// directions, so what varnel prints can be typed back.

#include <cstdint>
#include <string>
#include <string_view>

namespace vn::cli {

// Parses "1500", "500K", "2M", "2MiB", "1.5 GiB", "10kb" (letters in any case,
// one optional space before the unit). A fraction needs a unit and is rounded
// down to whole bytes. Throws std::invalid_argument with a text that names the
// value when it is empty, malformed, negative or beyond a signed 64-bit count.
std::int64_t ParseByteCount(std::string_view text);

// Like ParseByteCount, and also accepts a trailing "/s" ("512K/s"). A rate of 0
// is refused: it would mean "no limit", which callers spell "off".
std::int64_t ParseRate(std::string_view text);

// "0 B", "999 B", "1.5 KiB", "12.3 MiB", "512 KiB", "2 GiB": one decimal below
// 100 units (dropped when it is .0), none from 100 on. Negative counts print as 0.
std::string FormatBytes(std::int64_t bytes);

// FormatBytes plus "/s".
std::string FormatRate(std::int64_t bytesPerSecond);

// Remaining time for an ETA: "45s", "3m05s", "2h07m", "3d04h"; "-" for a
// negative count.
std::string FormatDuration(std::int64_t seconds);

}  // namespace vn::cli

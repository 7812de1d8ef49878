#include "apps/varnel/byte_units.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

namespace vn::cli {
namespace {

constexpr std::string_view kExamples = " (examples: 1500, 500K, 2MiB, 1.5 GiB)";
constexpr std::array<std::string_view, 7> kUnitNames = {"B",   "KiB", "MiB", "GiB",
                                                        "TiB", "PiB", "EiB"};
// Digits of a fraction beyond this cannot change the count by a whole byte.
constexpr int kMaxFractionDigits = 18;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

[[noreturn]] void Malformed(std::string_view text) {
  throw std::invalid_argument(Quoted(text) + " is not a byte count" + std::string(kExamples));
}

// 1024 to the power of the unit's letter; nullopt-like -1 for an unknown unit.
std::int64_t UnitMultiplier(std::string_view unit) {
  std::string lower;
  for (char c : unit) lower.push_back(Lower(c));
  if (lower.empty() || lower == "b") return 1;
  static constexpr std::string_view kLetters = "kmgt";
  const auto position = kLetters.find(lower.front());
  if (position == std::string_view::npos) return -1;
  const std::string_view rest = std::string_view(lower).substr(1);
  if (!rest.empty() && rest != "b" && rest != "ib") return -1;
  return std::int64_t{1} << (10 * (position + 1));
}

}  // namespace

std::int64_t ParseByteCount(std::string_view original) {
  const std::string_view text = Trim(original);
  if (text.empty()) throw std::invalid_argument("a byte count is missing" + std::string(kExamples));
  if (text.front() == '-') {
    // "-0" is zero, not a negative count; what follows the sign decides.
    std::int64_t magnitude = 0;
    try {
      magnitude = ParseByteCount(text.substr(1));
    } catch (const std::invalid_argument&) {
      Malformed(text);
    }
    if (magnitude == 0) return 0;
    throw std::invalid_argument(Quoted(text) + " is negative; sizes and rates cannot be");
  }

  std::size_t at = 0;
  std::int64_t whole = 0;
  bool overflow = false;
  while (at < text.size() && IsDigit(text[at])) {
    overflow = overflow || __builtin_mul_overflow(whole, 10, &whole) ||
               __builtin_add_overflow(whole, text[at] - '0', &whole);
    ++at;
  }
  if (at == 0) Malformed(text);

  std::int64_t fraction = 0;
  std::int64_t fractionScale = 1;
  bool hasFraction = false;
  if (at < text.size() && text[at] == '.') {
    ++at;
    const std::size_t firstDigit = at;
    int kept = 0;
    while (at < text.size() && IsDigit(text[at])) {
      if (kept < kMaxFractionDigits) {
        fraction = fraction * 10 + (text[at] - '0');
        fractionScale *= 10;
        ++kept;
      }
      ++at;
    }
    if (at == firstDigit) Malformed(text);
    hasFraction = true;
  }

  std::string_view unit = text.substr(at);
  if (!unit.empty() && unit.front() == ' ') {
    unit.remove_prefix(1);
    if (unit.empty()) Malformed(text);
  }
  const std::int64_t multiplier = UnitMultiplier(unit);
  if (multiplier < 0) Malformed(text);
  if (hasFraction && multiplier == 1 && fraction != 0) {
    throw std::invalid_argument(Quoted(text) +
                                " has a fraction of a byte; give a unit (1.5K) or a whole number");
  }

  std::int64_t bytes = 0;
  overflow = overflow || __builtin_mul_overflow(whole, multiplier, &bytes);
  // The fraction's share, rounded down: fraction * multiplier / scale without
  // overflowing (both factors may approach 2^60).
  const auto share = static_cast<std::int64_t>(static_cast<unsigned __int128>(fraction) *
                                               static_cast<unsigned __int128>(multiplier) /
                                               static_cast<unsigned __int128>(fractionScale));
  overflow = overflow || __builtin_add_overflow(bytes, share, &bytes);
  if (overflow) throw std::invalid_argument(Quoted(text) + " is too large");
  return bytes;
}

std::int64_t ParseRate(std::string_view original) {
  std::string_view text = Trim(original);
  if (text.size() > 2 && (text.ends_with("/s") || text.ends_with("/S"))) {
    text.remove_suffix(2);
  }
  const std::int64_t rate = ParseByteCount(text);
  if (rate == 0) {
    throw std::invalid_argument(Quoted(Trim(original)) + " is not a rate; it must be above 0");
  }
  return rate;
}

std::string FormatBytes(std::int64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes < 0 ? 0 : bytes) + " B";
  std::size_t unit = 0;
  long double value = static_cast<long double>(bytes);
  while (value >= 1024 && unit + 1 < kUnitNames.size()) {
    value /= 1024;
    ++unit;
  }
  char buffer[32];
  while (true) {
    const long double tenths = std::round(value * 10) / 10;
    if (tenths < 100) {
      const bool whole = tenths == std::floor(tenths);
      std::snprintf(buffer, sizeof buffer, whole ? "%.0Lf %s" : "%.1Lf %s", tenths,
                    kUnitNames[unit].data());
      return buffer;
    }
    const long double rounded = std::round(value);
    if (rounded >= 1024 && unit + 1 < kUnitNames.size()) {
      value /= 1024;
      ++unit;
      continue;
    }
    std::snprintf(buffer, sizeof buffer, "%.0Lf %s", rounded, kUnitNames[unit].data());
    return buffer;
  }
}

std::string FormatRate(std::int64_t bytesPerSecond) { return FormatBytes(bytesPerSecond) + "/s"; }

std::string FormatDuration(std::int64_t seconds) {
  if (seconds < 0) return "-";
  char buffer[32];
  if (seconds < 60) {
    std::snprintf(buffer, sizeof buffer, "%llds", static_cast<long long>(seconds));
  } else if (seconds < 3600) {
    std::snprintf(buffer, sizeof buffer, "%lldm%02llds", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  } else if (seconds < 86400) {
    std::snprintf(buffer, sizeof buffer, "%lldh%02lldm", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds % 3600 / 60));
  } else if (seconds < 1000LL * 86400) {
    std::snprintf(buffer, sizeof buffer, "%lldd%02lldh", static_cast<long long>(seconds / 86400),
                  static_cast<long long>(seconds % 86400 / 3600));
  } else {
    return ">999d";
  }
  return buffer;
}

}  // namespace vn::cli

#include "apps/service/engine/content_range.h"

#include <cctype>
#include <limits>

namespace vn {
namespace {

void SkipBlanks(std::string_view& text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
}

// Reads the decimal digits at the front of text; nullopt when there are none
// or the number does not fit.
std::optional<std::int64_t> ReadNumber(std::string_view& text) {
  std::int64_t value = 0;
  std::size_t digits = 0;
  for (; digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])); ++digits) {
    const int digit = text[digits] - '0';
    if (value > (std::numeric_limits<std::int64_t>::max() - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  if (digits == 0) return std::nullopt;
  text.remove_prefix(digits);
  return value;
}

bool Take(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

}  // namespace

std::optional<ContentRange> ParseContentRange(std::string_view value) {
  constexpr std::string_view kUnit = "bytes";
  if (value.size() < kUnit.size()) return std::nullopt;
  for (std::size_t i = 0; i < kUnit.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(value[i])) != kUnit[i]) return std::nullopt;
  }
  std::string_view text = value.substr(kUnit.size());
  if (text.empty() || text.front() != ' ') return std::nullopt;
  SkipBlanks(text);

  ContentRange range;
  const auto first = ReadNumber(text);
  if (!first || !Take(text, '-')) return std::nullopt;
  const auto last = ReadNumber(text);
  if (!last || !Take(text, '/')) return std::nullopt;
  if (!Take(text, '*')) {
    const auto total = ReadNumber(text);
    if (!total) return std::nullopt;
    range.total = *total;
  }
  SkipBlanks(text);
  if (!text.empty() || *first > *last) return std::nullopt;
  if (range.total >= 0 && *last >= range.total) return std::nullopt;
  range.first = *first;
  range.last = *last;
  return range;
}

}  // namespace vn

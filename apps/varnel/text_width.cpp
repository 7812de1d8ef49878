#include "apps/varnel/text_width.h"

#include <cstdint>

namespace vn::cli {
namespace {

struct Character {
  std::size_t bytes = 1;
  std::size_t columns = 1;
};

std::size_t ColumnsOf(std::uint32_t code) {
  if ((code >= 0x0300 && code <= 0x036f) || (code >= 0x200b && code <= 0x200f) ||
      (code >= 0xfe00 && code <= 0xfe0f)) {
    return 0;
  }
  const bool wide = (code >= 0x1100 && code <= 0x115f) || (code >= 0x2e80 && code <= 0xa4cf) ||
                    (code >= 0xac00 && code <= 0xd7a3) || (code >= 0xf900 && code <= 0xfaff) ||
                    (code >= 0xfe30 && code <= 0xfe4f) || (code >= 0xff00 && code <= 0xff60) ||
                    (code >= 0xffe0 && code <= 0xffe6) || (code >= 0x1f300 && code <= 0x1f64f) ||
                    (code >= 0x1f900 && code <= 0x1f9ff) || (code >= 0x20000 && code <= 0x3fffd);
  return wide ? 2 : 1;
}

// The character that starts at text[at]; malformed sequences are one byte wide.
Character Next(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 1;
  std::uint32_t code = lead;
  if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    code = lead & 0x07;
  } else if (lead >= 0xe0) {
    length = 3;
    code = lead & 0x0f;
  } else if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
    code = lead & 0x1f;
  } else {
    return {};
  }
  if (at + length > text.size()) return {};
  for (std::size_t i = 1; i < length; ++i) {
    const auto continuation = static_cast<unsigned char>(text[at + i]);
    if ((continuation & 0xc0) != 0x80) return {};
    code = (code << 6) | (continuation & 0x3f);
  }
  return {length, ColumnsOf(code)};
}

}  // namespace

std::size_t DisplayWidth(std::string_view text) {
  std::size_t columns = 0;
  for (std::size_t at = 0; at < text.size();) {
    const Character character = Next(text, at);
    columns += character.columns;
    at += character.bytes;
  }
  return columns;
}

std::string TruncateToWidth(std::string_view text, std::size_t width) {
  if (DisplayWidth(text) <= width) return std::string(text);
  if (width == 0) return {};
  std::size_t columns = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    const Character character = Next(text, at);
    if (columns + character.columns > width - 1) break;
    columns += character.columns;
    at += character.bytes;
  }
  return std::string(text.substr(0, at)) + std::string(kEllipsis);
}

std::string PadRight(std::string_view text, std::size_t width) {
  std::string result = TruncateToWidth(text, width);
  result.append(width - DisplayWidth(result), ' ');
  return result;
}

std::string PadLeft(std::string_view text, std::size_t width) {
  std::string result = TruncateToWidth(text, width);
  return std::string(width - DisplayWidth(result), ' ') + result;
}

}  // namespace vn::cli

#pragma once

// Terminal columns of UTF-8 text, so tables and progress lines fit the window
// however the names are written. East Asian wide characters and most emoji take
// two columns, combining marks none; every other code point takes one. Bytes
// that are not valid UTF-8 count one column each.

#include <cstddef>
#include <string>
#include <string_view>

namespace vn::cli {

inline constexpr std::string_view kEllipsis = "\xe2\x80\xa6";  // "…", one column

std::size_t DisplayWidth(std::string_view text);

// The text when it fits in width columns; otherwise its longest prefix of whole
// characters that fits in width - 1 columns, followed by an ellipsis. A width
// of 0 gives the empty text.
std::string TruncateToWidth(std::string_view text, std::size_t width);

// The text cut as TruncateToWidth does, then padded with spaces to width columns.
std::string PadRight(std::string_view text, std::size_t width);
std::string PadLeft(std::string_view text, std::size_t width);

}  // namespace vn::cli

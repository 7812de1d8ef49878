#pragma once

// How the host turns JSON values into text. Everything it writes is UTF-8 with
// non-ASCII characters unescaped and members in sorted order. Bytes that are not
// valid UTF-8 (a parser message can quote them from a bad input) become U+FFFD,
// so what the host writes is always valid JSON.

#include <nlohmann/json.hpp>
#include <string>

namespace vn {

// No whitespace at all: replies to the browser and requests on pipes.
std::string CompactJson(const nlohmann::json& value);

// Indented by 2 spaces, no newline at the end: files.
std::string IndentedJson(const nlohmann::json& value);

}  // namespace vn

#pragma once

// How every program writes JSON: UTF-8 with non-ASCII characters unescaped,
// object members in ascending byte order of their names (the library's default
// object), integers in decimal, no line end at the end. Bytes that are not valid
// UTF-8 (a parser message can quote them from a bad request, a stored name can
// hold them) become U+FFFD, so what we write is always valid JSON and writing
// never fails for it. Pure functions, any thread.

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace vn {

// No whitespace at all: answers, requests, native messages.
std::string CompactJson(const nlohmann::json& value);

// Indented by 2 spaces: the files we write.
std::string IndentedJson(const nlohmann::json& value);

// True when text is strict UTF-8 (no overlong forms, no surrogates, nothing
// above U+10FFFF): exactly the strings the writers above pass unchanged.
bool IsValidUtf8(std::string_view text);

}  // namespace vn

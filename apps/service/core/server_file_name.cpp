// Content-Disposition, as servers send it (RFC 6266):
//   attachment; filename="a \"b\".bin"; filename*=UTF-8''%C3%BCber.bin
// a disposition type, then parameters separated by ";", each a name, "=" and a
// token or a quoted string ("\" escapes the next character). filename* holds
// charset'language'percent-encoded-bytes. Parameter names are matched without
// regard to case; the first of each name counts. Anything malformed ends the
// parsing with what was read so far: the header is the server's to get right.
#include "apps/service/core/server_file_name.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "apps/protocol/json_text.h"
#include "apps/service/core/enqueue_arguments.h"
#include "apps/service/core/hidden_characters.h"

namespace vn {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The byte of the escape "%XX" at text[at], or -1 when there is none there.
int EscapedByte(std::string_view text, std::size_t at) {
  if (text[at] != '%' || at + 2 >= text.size()) return -1;
  const int high = HexValue(text[at + 1]);
  const int low = HexValue(text[at + 2]);
  return high < 0 || low < 0 ? -1 : high * 16 + low;
}

// Every "%" must start a well-formed escape; nullopt otherwise.
std::optional<std::string> StrictPercentDecode(std::string_view text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      decoded += text[i];
      continue;
    }
    const int byte = EscapedByte(text, i);
    if (byte < 0) return std::nullopt;
    decoded += static_cast<char>(byte);
    i += 2;
  }
  return decoded;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// ISO-8859-1 bytes as UTF-8.
std::string Latin1ToUtf8(std::string_view text) {
  std::string utf8;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      utf8 += c;
    } else {
      utf8 += static_cast<char>(0xC0 | (byte >> 6));
      utf8 += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return utf8;
}

// The name an RFC 5987 value (charset'language'encoded) stands for, as UTF-8;
// "" for another charset or a malformed value.
std::string DecodeExtendedValue(std::string_view value) {
  const auto first = value.find('\'');
  if (first == std::string_view::npos) return {};
  const auto second = value.find('\'', first + 1);
  if (second == std::string_view::npos) return {};
  const std::string charset = Lower(value.substr(0, first));
  const auto decoded = StrictPercentDecode(value.substr(second + 1));
  if (!decoded) return {};
  if (charset == "utf-8") return *decoded;
  if (charset == "iso-8859-1") return Latin1ToUtf8(*decoded);
  return {};
}

struct Parameters {
  std::optional<std::string> fileName;
  std::optional<std::string> extendedFileName;
};

Parameters ReadParameters(std::string_view header) {
  Parameters found;
  std::size_t at = header.find(';');
  while (at != std::string_view::npos && at < header.size()) {
    ++at;  // past ";"
    const auto equals = header.find_first_of("=;", at);
    if (equals == std::string_view::npos || header[equals] == ';') {
      at = equals;  // a parameter without a value
      continue;
    }
    const std::string name = Lower(Trim(header.substr(at, equals - at)));
    std::size_t valueStart = equals + 1;
    while (valueStart < header.size() &&
           (header[valueStart] == ' ' || header[valueStart] == '\t')) {
      ++valueStart;
    }
    std::string value;
    if (valueStart < header.size() && header[valueStart] == '"') {
      std::size_t i = valueStart + 1;
      for (; i < header.size() && header[i] != '"'; ++i) {
        if (header[i] == '\\' && i + 1 < header.size()) ++i;
        value += header[i];
      }
      at = header.find(';', i);
    } else {
      const auto end = header.find(';', valueStart);
      value = std::string(Trim(header.substr(
          valueStart, end == std::string_view::npos ? std::string_view::npos : end - valueStart)));
      at = end;
    }
    if (name == "filename" && !found.fileName) found.fileName = value;
    if (name == "filename*" && !found.extendedFileName) found.extendedFileName = value;
  }
  return found;
}

}  // namespace

std::string PercentDecode(std::string_view text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const int byte = EscapedByte(text, i);
    if (byte < 0) {
      decoded += text[i];
    } else {
      decoded += static_cast<char>(byte);
      i += 2;
    }
  }
  return decoded;
}

std::string SafeOutsideFileName(const std::string& text) {
  if (!IsValidUtf8(text)) return {};
  const auto separator = text.find_last_of("/\\");
  const std::string lastPart = WithoutHiddenCharacters(
      separator == std::string::npos ? text : text.substr(separator + 1));
  // Leading dots would hide the file, and "." or ".." name none; they are
  // looked for after the hidden characters, which could stand before them.
  const std::string name =
      lastPart.substr(std::min(lastPart.size(), lastPart.find_first_not_of('.')));
  if (name.empty()) return {};
  return FitFileName(name);
}

std::string FileNameFromContentDisposition(std::string_view header) {
  const Parameters found = ReadParameters(header);
  if (found.extendedFileName) {
    std::string name = SafeOutsideFileName(DecodeExtendedValue(*found.extendedFileName));
    if (!name.empty()) return name;
  }
  return found.fileName ? SafeOutsideFileName(*found.fileName) : std::string();
}

bool HasFileExtension(const std::string& name) {
  const std::string lastPart = name.substr(name.find_last_of('/') + 1);
  const auto dot = lastPart.rfind('.');
  return dot != std::string::npos && dot > 0 && dot + 1 < lastPart.size();
}

}  // namespace vn

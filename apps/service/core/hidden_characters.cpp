#include "apps/service/core/hidden_characters.h"

#include <cstddef>

namespace vn {
namespace {

struct CodePoint {
  char32_t value;
  std::size_t bytes;
};

constexpr char32_t kNotACharacter = 0xFFFD;

// The code point that starts at text[at]; a byte that starts no well-formed
// sequence stands for kNotACharacter, one byte long.
CodePoint CodePointAt(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) return {lead, 1};
  std::size_t bytes = 0;
  char32_t value = 0;
  if ((lead & 0xE0) == 0xC0) {
    bytes = 2;
    value = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    bytes = 3;
    value = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    bytes = 4;
    value = lead & 0x07;
  } else {
    return {kNotACharacter, 1};
  }
  if (at + bytes > text.size()) return {kNotACharacter, 1};
  for (std::size_t i = 1; i < bytes; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return {kNotACharacter, 1};
    value = (value << 6) | (next & 0x3F);
  }
  return {value, bytes};
}

bool IsHidden(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) ||  // C0, DEL, C1
         c == 0x061C ||                           // Arabic letter mark
         (c >= 0x200B && c <= 0x200F) ||          // zero widths, LTR and RTL marks
         (c >= 0x202A && c <= 0x202E) ||          // embeddings and overrides
         c == 0x2060 ||                           // word joiner
         (c >= 0x2066 && c <= 0x2069) ||          // isolates
         c == 0xFEFF;                             // zero-width no-break space
}

}  // namespace

bool HasHiddenCharacter(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const CodePoint c = CodePointAt(text, at);
    if (IsHidden(c.value)) return true;
    at += c.bytes;
  }
  return false;
}

std::string WithoutHiddenCharacters(std::string_view text) {
  std::string kept;
  kept.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const CodePoint c = CodePointAt(text, at);
    if (!IsHidden(c.value)) kept.append(text.substr(at, c.bytes));
    at += c.bytes;
  }
  return kept;
}

}  // namespace vn

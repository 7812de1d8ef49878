#pragma once

// Characters a person cannot see in a file name as it is: control characters
// (C0, DEL, C1), the bidirectional controls that reorder what follows them
// ("evil\u202Etxt.exe" shows as "evilexe.txt") and the zero-width characters.
// Names from outside lose them; a client's name holding one is refused. Pure
// functions on UTF-8 text; any thread.

#include <string>
#include <string_view>

namespace vn {

// Whether text holds a hidden character. Bytes that start no well-formed UTF-8
// sequence are not characters and are not looked at.
bool HasHiddenCharacter(std::string_view text);

// text with every hidden character removed.
std::string WithoutHiddenCharacters(std::string_view text);

}  // namespace vn

#pragma once

// UTF-8 <-> UTF-16 at the Win32 boundary. Text stays UTF-8 inside the program
// and becomes wide only where a Win32 function takes or gives it. Windows only.

#include <string>
#include <string_view>

namespace vn::platform {

// Ill-formed input is not rejected: the replacement character takes the place
// of what cannot be converted. Empty in, empty out. Any thread.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

}  // namespace vn::platform

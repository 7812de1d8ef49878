#pragma once

#include <string>

namespace vn {

// The name of a download whose URL gives none usable.
inline constexpr const char* kDefaultFileName = "download.bin";

// The file name a download takes from its URL when the client names none, as a
// browser reads it: the text after the last "/" of the URL without its query
// and fragment, percent-escapes decoded as UTF-8 (kept as they are when the
// result is not UTF-8), then made safe by SafeOutsideFileName; kDefaultFileName
// when nothing usable is left. Never a name that points outside the output
// folder, holds a "/" or a zero byte.
std::string FileNameFromUrl(const std::string& url);

}  // namespace vn

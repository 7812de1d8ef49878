#pragma once

#include <string>

namespace vn {

// The file name a download takes from its URL when the client names none: the
// text after the URL's last "/", query and fragment included, or "download.bin"
// when that text is not a safe file name. Never a name that points outside the
// output folder, holds a "/" or a zero byte.
std::string FileNameFromUrl(const std::string& url);

}  // namespace vn

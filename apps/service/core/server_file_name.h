#pragma once

// File names that come from outside the client's request: the name a server
// gives in Content-Disposition, and the decoded last part of a URL. Both are
// hostile text and are made into one plain, short, printable name before any
// path is built from them. Pure functions; any thread.

#include <string>
#include <string_view>

namespace vn {

// text made into a plain file name: only what follows its last "/" or "\";
// hidden characters (hidden_characters.h: controls, the zero byte among them,
// bidirectional controls, zero widths) and leading dots removed; cut to kMaxFileNameBytes on a UTF-8 boundary, keeping a short
// extension. "" when nothing is left, when the rest is "." or "..", or when
// text is not valid UTF-8.
std::string SafeOutsideFileName(const std::string& text);

// The file name of a Content-Disposition value, made safe: the RFC 6266
// `filename*` (UTF-8 or ISO-8859-1, percent-encoded) when it gives a usable
// name, else `filename` (a quoted string or a token). "" when neither does.
std::string FileNameFromContentDisposition(std::string_view header);

// text with every well-formed %XX escape decoded; other "%" stay as they are.
std::string PercentDecode(std::string_view text);

// Whether the last part of name has an extension: a dot that is neither its
// first nor its last character.
bool HasFileExtension(const std::string& name);

}  // namespace vn

#pragma once

// The extension ids a manifest may allow. Whatever is accepted lands in a
// browser's manifest and stays there, so only the shapes browsers give out are
// taken: Chromium-family ids are 32 letters a to p; Firefox ids are
// email-like ("name@example.org") or a GUID in braces. Pure text checks.

#include <string>

namespace vn::cli {

bool IsChromiumExtensionId(const std::string& id);
bool IsFirefoxExtensionId(const std::string& id);

}  // namespace vn::cli

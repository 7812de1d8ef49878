#include "apps/varnel/browser_extension_folders.h"

#include <system_error>

#include "platform/process.h"

namespace vn::cli {

std::filesystem::path FindExtensionFolder(ManifestFamily family) {
  const auto own = platform::ProgramPath();
  if (own.empty()) return {};
  const char* name = family == ManifestFamily::kChromium ? "chromium" : "firefox";
  const auto bin = own.parent_path();
  // On Windows every program lies in one folder, with the extension beside them.
  const std::filesystem::path candidates[] = {
      bin / "extension" / name,
      bin.parent_path() / "share" / "varnel" / "extension" / name,
      bin.parent_path().parent_path() / "extension" / name,
  };
  for (const auto& candidate : candidates) {
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate / "manifest.json", error)) {
      return candidate.lexically_normal();
    }
  }
  return {};
}

}  // namespace vn::cli

// Linux defaults of the data root and the download folder (XDG folders).
#include <string>

#include "platform/locations.h"
#include "platform/process.h"

namespace vn::platform {
namespace {

std::filesystem::path AbsoluteEnvironmentPath(const char* name) {
  const auto value = GetEnvironment(name);
  if (!value || value->empty()) return {};
  std::filesystem::path path(*value);
  return path.is_absolute() ? path : std::filesystem::path();
}

// The data root when the environment names one; empty otherwise.
std::filesystem::path DataRootFromEnvironment() {
  if (auto local = LocalAppDataFolder(); !local.empty()) return local / kDataFolderName;
  if (auto xdg = AbsoluteEnvironmentPath("XDG_DATA_HOME"); !xdg.empty()) {
    return xdg / kDataFolderName;
  }
  if (auto home = AbsoluteEnvironmentPath("HOME"); !home.empty()) {
    return home / ".local" / "share" / kDataFolderName;
  }
  return {};
}

}  // namespace

std::filesystem::path ResolveDataRoot() {
  if (auto root = DataRootFromEnvironment(); !root.empty()) return root;
  return ProgramPath().parent_path() / kDataFolderName;
}

std::filesystem::path ResolveHandshakeFolder() {
  if (auto root = DataRootFromEnvironment(); !root.empty()) return root;
  return std::filesystem::path(kDataFolderName);
}

std::filesystem::path DefaultDownloadFolder() {
  if (auto xdg = AbsoluteEnvironmentPath("XDG_DOWNLOAD_DIR"); !xdg.empty()) return xdg;
  if (auto home = AbsoluteEnvironmentPath("HOME"); !home.empty()) return home / "Downloads";
  return std::filesystem::path("Downloads");
}

}  // namespace vn::platform

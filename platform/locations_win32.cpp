// Windows defaults: %LOCALAPPDATA%\VarnelV2, and the public download folder
// that every user of the machine can write to.
#include "platform/locations.h"
#include "platform/process.h"

namespace vn::platform {

std::filesystem::path ResolveDataRoot() {
  if (auto local = LocalAppDataFolder(); !local.empty()) return local / kDataFolderName;
  return ProgramPath().parent_path() / kDataFolderName;
}

std::filesystem::path ResolveHandshakeFolder() {
  if (auto local = LocalAppDataFolder(); !local.empty()) return local / kDataFolderName;
  return std::filesystem::path(kDataFolderName);
}

std::filesystem::path DefaultDownloadFolder() {
  return std::filesystem::path("C:\\Users\\Public\\Downloads");
}

}  // namespace vn::platform

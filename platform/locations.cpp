#include "platform/locations.h"

#include <string>

#include "platform/process.h"

namespace vn::platform {
namespace {

constexpr const char* kAppFolder = "VarnelV2";
// Values this long did not fit the fixed buffer older installations read them
// into; they are treated as absent so every program agrees on the folder.
constexpr std::size_t kMaxEnvironmentValue = 260;

std::filesystem::path AbsoluteEnvironmentPath(const char* name) {
  const auto value = GetEnvironment(name);
  if (!value || value->empty()) return {};
  std::filesystem::path path(*value);
  return path.is_absolute() ? path : std::filesystem::path();
}

// The data root when the environment names one; empty otherwise.
std::filesystem::path DataRootFromEnvironment() {
  if (auto local = LocalAppDataFolder(); !local.empty()) return local / kAppFolder;
  if (auto xdg = AbsoluteEnvironmentPath("XDG_DATA_HOME"); !xdg.empty()) return xdg / kAppFolder;
  if (auto home = AbsoluteEnvironmentPath("HOME"); !home.empty()) {
    return home / ".local" / "share" / kAppFolder;
  }
  return {};
}

bool EntryExists(const std::filesystem::path& path) {
  std::error_code error;
  const auto status = std::filesystem::symlink_status(path, error);
  return !error && std::filesystem::exists(status);
}

}  // namespace

std::filesystem::path LocalAppDataFolder() {
  const auto value = GetEnvironment("LOCALAPPDATA");
  if (!value || value->empty() || value->size() >= kMaxEnvironmentValue) return {};
  return std::filesystem::path(*value);
}

std::filesystem::path ResolveDataRoot() {
  if (auto root = DataRootFromEnvironment(); !root.empty()) return root;
  return ProgramPath().parent_path() / kAppFolder;
}

std::filesystem::path ResolveHandshakeFolder() {
  if (auto root = DataRootFromEnvironment(); !root.empty()) return root;
  return std::filesystem::path(kAppFolder);
}

std::filesystem::path FindProjectRoot() {
  auto current = ProgramPath().parent_path();
  while (!current.empty()) {
    if (EntryExists(current / "CMakeLists.txt") && EntryExists(current / "apps")) return current;
    auto parent = current.parent_path();
    if (parent == current) break;
    current = parent;
  }
  return {};
}

std::filesystem::path DefaultDownloadFolder() {
  if (auto xdg = AbsoluteEnvironmentPath("XDG_DOWNLOAD_DIR"); !xdg.empty()) return xdg;
  if (auto home = AbsoluteEnvironmentPath("HOME"); !home.empty()) return home / "Downloads";
  return std::filesystem::path("Downloads");
}

}  // namespace vn::platform

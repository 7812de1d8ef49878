#include "platform/locations.h"

#include <string>

#include "platform/process.h"

namespace vn::platform {
namespace {

// Values this long did not fit the fixed buffer older installations read them
// into; they are treated as absent so every program agrees on the folder.
constexpr std::size_t kMaxEnvironmentValue = 260;

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

}  // namespace vn::platform

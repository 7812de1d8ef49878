#include "apps/varnel/program_locations.h"

#include "platform/locations.h"
#include "platform/process.h"

namespace vn::cli {
namespace {

struct Companion {
  const char* overrideVariable;
  const char* installedName;  // in <prefix>/libexec/varnel
  const char* buildFolder;    // apps/<folder>/<installedName> in a build tree
};

constexpr Companion kService{kServiceOverride, "service", "service"};
constexpr Companion kNativeHost{kNativeHostOverride, "native-host", "native-host"};

// Where the program lies beside varnel: installed first, then in a build tree.
std::vector<std::filesystem::path> Beside(const Companion& companion) {
  const auto own = platform::ProgramPath();
  if (own.empty()) return {};
  const auto folder = own.parent_path();
  if (platform::kProgramsShareOneFolder) {
    return {folder / (std::string(companion.installedName) + platform::kProgramFileSuffix)};
  }
  return {folder.parent_path() / "libexec" / "varnel" / companion.installedName,
          folder.parent_path() / companion.buildFolder / companion.installedName};
}

std::vector<std::filesystem::path> Candidates(const Companion& companion) {
  if (const auto chosen = platform::GetEnvironment(companion.overrideVariable)) {
    return {std::filesystem::path(*chosen)};
  }
  return Beside(companion);
}

std::filesystem::path Find(const Companion& companion) {
  for (const auto& candidate : Candidates(companion)) {
    std::error_code error;
    const auto status = std::filesystem::status(candidate, error);
    const auto executable = std::filesystem::perms::owner_exec |
                            std::filesystem::perms::group_exec |
                            std::filesystem::perms::others_exec;
    if (candidate.is_absolute() && !error && std::filesystem::is_regular_file(status) &&
        (status.permissions() & executable) != std::filesystem::perms::none) {
      return candidate.lexically_normal();
    }
  }
  return {};
}

std::filesystem::path AbsoluteVariable(const char* name) {
  const auto value = platform::GetEnvironment(name);
  if (!value || value->empty() || (*value)[0] != '/') return {};
  return *value;
}

}  // namespace

std::filesystem::path FindServiceBinary() { return Find(kService); }

std::filesystem::path FindNativeHostBinary() { return Find(kNativeHost); }

std::vector<std::filesystem::path> ServiceBinaryCandidates() { return Candidates(kService); }

std::vector<std::filesystem::path> ServicePrograms() {
  std::vector<std::filesystem::path> programs;
  const auto add = [&](const std::filesystem::path& program) {
    std::error_code error;
    const auto real = std::filesystem::canonical(program, error);
    if (!error) programs.push_back(real);
  };
  add(FindServiceBinary());
  const auto beside = Beside(kService);
  if (!beside.empty()) add(beside.front());
  return programs;
}

std::filesystem::path ServiceLogPath() {
  if (auto state = AbsoluteVariable("XDG_STATE_HOME"); !state.empty()) {
    return state / "varnel" / "service.log";
  }
  if (auto home = AbsoluteVariable("HOME"); !home.empty()) {
    return home / ".local" / "state" / "varnel" / "service.log";
  }
  return platform::ResolveDataRoot() / "service.log";
}

}  // namespace vn::cli

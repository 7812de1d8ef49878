#include "fuzz/fuzz_environment.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace vn::fuzz {
namespace {

std::filesystem::path& Root() {
  static std::filesystem::path root;
  return root;
}

void RemoveRoot() {
  std::error_code ignored;
  if (!Root().empty()) std::filesystem::remove_all(Root(), ignored);
}

// TMPDIR when set; else memory-backed /dev/shm where there is one, where the
// store's and the host's syncs cost nothing; else /tmp.
std::string TemporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  if (tmp != nullptr && *tmp != '\0') return tmp;
  std::error_code ignored;
  if (std::filesystem::is_directory("/dev/shm", ignored) && access("/dev/shm", W_OK) == 0) {
    return "/dev/shm";
  }
  return "/tmp";
}

}  // namespace

std::filesystem::path MakePrivateRoot() {
  std::string pattern = TemporaryFolder() + "/varnel-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) Fail("cannot create the private root");
  Root() = pattern;
  const struct {
    const char* variable;
    const char* folder;
  } kFolders[] = {
      {"HOME", "home"},          {"LOCALAPPDATA", "localappdata"}, {"XDG_RUNTIME_DIR", "run"},
      {"XDG_DATA_HOME", "data"}, {"XDG_STATE_HOME", "state"},      {"XDG_CONFIG_HOME", "config"},
      {"XDG_DOWNLOAD_DIR", "downloads"},
  };
  for (const auto& each : kFolders) {
    const auto folder = Root() / each.folder;
    std::filesystem::create_directories(folder);
    chmod(folder.c_str(), 0700);
    setenv(each.variable, folder.c_str(), 1);
  }
  std::atexit(RemoveRoot);
  return Root();
}

void Fail(const std::string& what) {
  std::fprintf(stderr, "Property failed: %s\n", what.c_str());
  std::abort();
}

}  // namespace vn::fuzz

// Every test binary runs in its own temporary root, so no test ever touches the
// user's files and binaries can run side by side.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>

namespace vn::test {
void SetTestRoot(const std::filesystem::path& root);
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  std::signal(SIGPIPE, SIG_IGN);

  std::string pattern = (std::filesystem::temp_directory_path() / "varnel-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 2;
  const std::filesystem::path root = pattern;
  vn::test::SetTestRoot(root);

  const auto make = [&](const char* variable, const std::filesystem::path& path) {
    std::filesystem::create_directories(path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    setenv(variable, path.c_str(), 1);
  };
  make("HOME", root / "home");
  make("LOCALAPPDATA", root / "localappdata");
  make("XDG_RUNTIME_DIR", root / "run");
  make("XDG_DATA_HOME", root / "xdg-data");
  make("XDG_DOWNLOAD_DIR", root / "downloads");

  const int result = RUN_ALL_TESTS();
  if (getenv("VARNEL_KEEP_TEST_ROOT") == nullptr) {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  return result;
}

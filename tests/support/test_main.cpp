// Every test binary runs in its own temporary root, so no test ever touches the
// user's files and binaries can run side by side.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <iterator>
#include <string>

#include "tests/support/wait_until.h"

namespace vn::test {
void SetTestRoot(const std::filesystem::path& root);
}

namespace {

// The threads of this process; 0 when they cannot be counted.
std::ptrdiff_t ThreadCount() {
  std::error_code error;
  const std::filesystem::directory_iterator tasks("/proc/self/task", error);
  if (error) return 0;
  return std::distance(tasks, std::filesystem::directory_iterator());
}

}  // namespace

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

  const std::ptrdiff_t threadsBefore = ThreadCount();
  const int result = RUN_ALL_TESTS();
  // Download runs live on detached threads; one that is still ending would be
  // cut off by the exit, and the leak checker would count its thread state as
  // lost. Wait (bounded) for the threads to be back to those before the tests
  // (a sanitizer may keep one of its own).
  vn::test::WaitUntil([&] { return ThreadCount() <= threadsBefore; }, std::chrono::seconds(3),
                      std::chrono::milliseconds(5));
  if (getenv("VARNEL_KEEP_TEST_ROOT") == nullptr) {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  return result;
}

// The Windows test main: every test binary runs in its own temporary root, and
// the variables the programs read point into it (set in this process's own
// environment block, which is what Windows programs read).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <random>
#include <string>

namespace vn::test {
void SetTestRoot(const std::filesystem::path& root);
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  std::random_device random;
  std::string folder = "varnel-test-";
  folder += std::to_string(random());
  const std::filesystem::path root = std::filesystem::temp_directory_path() / folder;
  std::filesystem::create_directories(root);
  vn::test::SetTestRoot(root);
  const auto make = [&](const char* variable, const std::filesystem::path& path) {
    std::filesystem::create_directories(path);
    _wputenv_s(std::filesystem::path(variable).wstring().c_str(), path.wstring().c_str());
  };
  make("LOCALAPPDATA", root / "localappdata");
  make("USERPROFILE", root / "home");

  const int result = RUN_ALL_TESTS();
  if (std::getenv("VARNEL_KEEP_TEST_ROOT") == nullptr) {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  return result;
}

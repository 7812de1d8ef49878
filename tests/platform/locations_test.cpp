#include "platform/locations.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <map>
#include <optional>
#include <string>

#include "platform/process.h"
#include "tests/support/test_environment.h"

namespace vn::platform {
namespace {

// Sets variables for one test and puts the old values back afterwards.
class ScopedEnvironment {
 public:
  void Set(const std::string& name, const std::optional<std::string>& value) {
    if (!saved.count(name)) saved[name] = GetEnvironment(name);
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved;
};

TEST(Locations, DataRootPrefersLocalAppData) {
  ScopedEnvironment environment;
  environment.Set("LOCALAPPDATA", "/data/local");
  environment.Set("XDG_DATA_HOME", "/data/xdg");
  EXPECT_EQ(ResolveDataRoot(), "/data/local/VarnelV2");
  EXPECT_EQ(ResolveHandshakeFolder(), "/data/local/VarnelV2");
  EXPECT_EQ(LocalAppDataFolder(), "/data/local");
}

TEST(Locations, DataRootFallsBackThroughXdgAndHome) {
  ScopedEnvironment environment;
  environment.Set("LOCALAPPDATA", "");
  environment.Set("XDG_DATA_HOME", "/data/xdg");
  EXPECT_EQ(ResolveDataRoot(), "/data/xdg/VarnelV2");
  EXPECT_TRUE(LocalAppDataFolder().empty());

  environment.Set("LOCALAPPDATA", std::string(260, 'x'));  // too long: not used
  environment.Set("XDG_DATA_HOME", "relative/xdg");        // relative: not used
  environment.Set("HOME", "/home/someone");
  EXPECT_EQ(ResolveDataRoot(), "/home/someone/.local/share/VarnelV2");
  EXPECT_TRUE(LocalAppDataFolder().empty());

  environment.Set("LOCALAPPDATA", std::string(259, 'x'));  // fits
  EXPECT_EQ(ResolveDataRoot(), std::filesystem::path(std::string(259, 'x')) / "VarnelV2");
}

TEST(Locations, WithoutAnyVariableTheProgramAndCurrentFoldersAreUsed) {
  ScopedEnvironment environment;
  environment.Set("LOCALAPPDATA", std::nullopt);
  environment.Set("XDG_DATA_HOME", std::nullopt);
  environment.Set("HOME", std::nullopt);
  EXPECT_EQ(ResolveDataRoot(), ProgramPath().parent_path() / "VarnelV2");
  EXPECT_EQ(ResolveHandshakeFolder(), "VarnelV2");
}

TEST(Locations, DefaultDownloadFolderFallbacks) {
  ScopedEnvironment environment;
  environment.Set("XDG_DOWNLOAD_DIR", "/media/downloads");
  EXPECT_EQ(DefaultDownloadFolder(), "/media/downloads");
  environment.Set("XDG_DOWNLOAD_DIR", "not/absolute");
  environment.Set("HOME", "/home/someone");
  EXPECT_EQ(DefaultDownloadFolder(), "/home/someone/Downloads");
  environment.Set("XDG_DOWNLOAD_DIR", std::nullopt);
  environment.Set("HOME", std::nullopt);
  EXPECT_EQ(DefaultDownloadFolder(), "Downloads");
}

TEST(Locations, ProjectRootIsTheNearestFolderWithCMakeListsAndApps) {
  // The test binary lies inside the source tree's build folder.
  const auto root = FindProjectRoot();
  ASSERT_FALSE(root.empty());
  EXPECT_TRUE(std::filesystem::exists(root / "CMakeLists.txt"));
  EXPECT_TRUE(std::filesystem::exists(root / "apps"));
  const auto program = ProgramPath().string();
  EXPECT_EQ(program.rfind(root.string(), 0), 0u);
}

}  // namespace
}  // namespace vn::platform

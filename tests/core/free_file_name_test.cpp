#include "apps/service/core/free_file_name.h"

#include <gtest/gtest.h>

#include "tests/support/test_environment.h"

namespace vn {
namespace {

DownloadTask At(const std::string& folder, const std::string& fileName) {
  DownloadTask task;
  task.outputPath = folder;
  task.fileName = fileName;
  return task;
}

TEST(ChooseFreeFileName, SkipsNamesTheListOrTheDiskHoldsUntilTheirOwnersAreRemoved) {
  test::TempFolder out;
  const std::string folder = out.path().string();
  test::WriteFile(out.path() / "taken.bin", "the user's");
  const DownloadTask first = At(folder, "f.bin");
  const DownloadTask second = At(folder, "f.bin");  // an older list may hold a name twice
  ListedTargets listed;
  for (const auto& task : {first, second, At(folder + "/./", "g.bin"), At(folder, "../x.bin")}) {
    listed.Add(task);
  }

  const std::vector<std::pair<std::string, std::string>> cases = {
      {"f.bin", "f (1).bin"},                    // a listed final file
      {"f.bin.segments", "f.bin (1).segments"},  // a listed segment folder
      {"g.bin", "g (1).bin"},                    // listed under another spelling
      {"taken.bin", "taken (1).bin"},            // on disk
      {"x.bin", "x.bin"},                        // an unsafe entry owns nothing
  };
  for (const auto& [asked, chosen] : cases) {
    EXPECT_EQ(ChooseFreeFileName(At(folder, asked), listed), chosen) << asked;
  }

  listed.Remove(first);
  EXPECT_EQ(ChooseFreeFileName(first, listed), "f (1).bin");
  listed.Remove(second);
  EXPECT_EQ(ChooseFreeFileName(first, listed), "f.bin");
}

}  // namespace
}  // namespace vn

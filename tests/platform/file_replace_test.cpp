#include "platform/file_replace.h"

#include <gtest/gtest.h>

#include "tests/support/test_environment.h"

namespace vn::platform {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

TEST(FileReplace, ReplacesWholeAndLeavesNothingBeside) {
  test::TempFolder folder;
  const fs::path target = folder.path() / "index.json";
  WriteFile(target, "old");
  WriteFile(folder.path() / "source.db", "copied bytes");
  ASSERT_TRUE(ReplaceFileContents(target, "new"));
  EXPECT_EQ(ReadFile(target), "new");
  ASSERT_TRUE(ReplaceFileWithCopy(target, folder.path() / "source.db"));
  EXPECT_EQ(ReadFile(target), "copied bytes");
  EXPECT_FALSE(ReplaceFileWithCopy(target, folder.path() / "missing.db"));
  EXPECT_FALSE(ReplaceFileContents(folder.path() / "no" / "folder", "x"));
  EXPECT_EQ(ReadFile(target), "copied bytes");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 2);
}

TEST(FileReplace, MoveNeverTakesAnExistingName) {
  test::TempFolder folder;
  const fs::path from = folder.path() / "joined";
  WriteFile(from, "joined");
  WriteFile(folder.path() / "taken", "the user's");
  fs::create_symlink(folder.path() / "nowhere", folder.path() / "dangling");
  for (const char* name : {"taken", "dangling"}) {
    EXPECT_EQ(MoveWithoutReplacing(from, folder.path() / name), MoveOutcome::kTargetExists);
  }
  EXPECT_EQ(ReadFile(folder.path() / "taken"), "the user's");
  EXPECT_EQ(MoveWithoutReplacing(from, folder.path() / "free"), MoveOutcome::kMoved);
  EXPECT_EQ(ReadFile(folder.path() / "free"), "joined");
  EXPECT_FALSE(fs::exists(from));
}

}  // namespace
}  // namespace vn::platform

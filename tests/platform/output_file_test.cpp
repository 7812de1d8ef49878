#include "platform/output_file.h"

#include <gtest/gtest.h>

#include "tests/support/test_environment.h"

namespace vn::platform {
namespace {

using test::MakeContent;
using test::ReadFile;
using test::TempFolder;
using test::WriteFile;

TEST(OutputFile, AppendsRangesOfOtherFilesInOrder) {
  TempFolder folder;
  const std::string first = MakeContent(3 * 1048576 + 5, 1);
  const std::string second = MakeContent(1000, 2);
  WriteFile(folder.path() / "a", first + "tail that is not wanted");
  WriteFile(folder.path() / "b", second);
  WriteFile(folder.path() / "out", "old content is truncated");

  auto output = OutputFile::Create(folder.path() / "out");
  ASSERT_NE(output, nullptr);
  std::int64_t reported = 0;
  const auto progress = [&](std::int64_t bytes) { reported += bytes; };
  EXPECT_EQ(output->AppendFileRange(folder.path() / "a", first.size(), progress),
            static_cast<std::int64_t>(first.size()));
  // A source shorter than asked gives what it has; a missing one nothing.
  EXPECT_EQ(output->AppendFileRange(folder.path() / "b", 5000, progress), 1000);
  EXPECT_EQ(output->AppendFileRange(folder.path() / "missing", 10, progress), 0);
  EXPECT_TRUE(output->Close());
  EXPECT_EQ(reported, static_cast<std::int64_t>(first.size() + second.size()));
  EXPECT_EQ(ReadFile(folder.path() / "out"), first + second);
}

TEST(OutputFile, ReportsAFailedWrite) {
  TempFolder folder;
  WriteFile(folder.path() / "a", MakeContent(100000));
  auto full = OutputFile::Create("/dev/full");  // every write fails: no space left
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(full->AppendFileRange(folder.path() / "a", 100000, nullptr), -1);
  EXPECT_EQ(OutputFile::Create(folder.path() / "no" / "such" / "folder"), nullptr);
}

}  // namespace
}  // namespace vn::platform

#include "platform/output_file.h"

#include <gtest/gtest.h>

#include "tests/support/test_environment.h"

namespace vn::platform {
namespace {

using test::MakeContent;
using test::ReadFile;
using test::TempFolder;
using test::WriteFile;

TEST(OutputFile, MovesOtherFilesInAtTheirOffsetsAndEmptiesThem) {
  TempFolder folder;
  const std::string first = MakeContent(17 * 1048576 + 5, 1);  // more than one chunk
  const std::string second = MakeContent(1000, 2);
  WriteFile(folder.path() / "a", first);
  WriteFile(folder.path() / "b", second);
  WriteFile(folder.path() / "out", "old content is truncated");

  auto output = OutputFile::Create(folder.path() / "out");
  ASSERT_NE(output, nullptr);
  std::int64_t reported = 0;
  const auto progress = [&](std::int64_t bytes) { reported += bytes; };
  // Out of order on purpose: each lands at its own offset.
  EXPECT_EQ(output->MoveFileInto(folder.path() / "b", first.size(), progress), 1000);
  EXPECT_EQ(output->MoveFileInto(folder.path() / "a", 0, progress),
            static_cast<std::int64_t>(first.size()));
  EXPECT_EQ(output->MoveFileInto(folder.path() / "missing", 10, progress), 0);
  EXPECT_TRUE(output->Close());
  EXPECT_EQ(reported, static_cast<std::int64_t>(first.size() + second.size()));
  EXPECT_EQ(ReadFile(folder.path() / "out"), first + second);
  EXPECT_EQ(ReadFile(folder.path() / "a"), "");
  EXPECT_EQ(ReadFile(folder.path() / "b"), "");
}

TEST(OutputFile, ReportsAFailedWriteAndKeepsWhatWasNotMoved) {
  TempFolder folder;
  const std::string content = MakeContent(100000);
  WriteFile(folder.path() / "a", content);
  auto full = OutputFile::Create("/dev/full");  // every write fails: no space left
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(full->MoveFileInto(folder.path() / "a", 0, nullptr), -1);
  EXPECT_EQ(full->ErrorText(), "No space left on device");
  EXPECT_EQ(ReadFile(folder.path() / "a"), content);
  EXPECT_EQ(OutputFile::Create(folder.path() / "no" / "such" / "folder"), nullptr);
}

}  // namespace
}  // namespace vn::platform

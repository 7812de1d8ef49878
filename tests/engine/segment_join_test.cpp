#include "apps/service/engine/segment_join.h"

#include <gtest/gtest.h>

#include "apps/service/engine/partial_files.h"
#include "tests/support/test_environment.h"

namespace vn {
namespace {

using test::MakeContent;
using test::ReadFile;
using test::Sha256Hex;
using test::TempFolder;
using test::WriteFile;

// Each partial file is joined whole: bytes beyond a range make the joined file
// too long, so the size check after the join catches them.
TEST(SegmentJoin, JoinsWholePartFilesInOffsetOrderAndReturnsTheDigestOfTheWrittenBytes) {
  TempFolder folder;
  const std::string content = MakeContent(3 * 1048576 + 777);
  DownloadTask task;
  task.outputPath = folder.path().string();
  task.fileName = "joined.bin";
  task.totalBytes = static_cast<std::int64_t>(content.size());
  // Segment 1 was split off segment 0, so the list is not in offset order.
  const std::int64_t middle = 1500000;
  task.segments = {{middle, task.totalBytes - 1, task.totalBytes - middle},
                   {0, middle - 1, middle}};
  const auto segments = SegmentsFolder(task);
  const std::string joined =
      content.substr(0, middle) + "extra bytes beyond the range" + content.substr(middle);
  WriteFile(PartFilePath(segments, 1), content.substr(0, middle) + "extra bytes beyond the range");
  WriteFile(PartFilePath(segments, 0), content.substr(middle));

  FinishingReporter reporter(task, [] {});
  const auto digest = JoinPartFiles(task, segments, folder.path() / "joined.bin", reporter);
  EXPECT_EQ(ReadFile(folder.path() / "joined.bin"), joined);
  EXPECT_EQ(digest, Sha256Hex(joined));
  // Joined and hashed.
  EXPECT_EQ(task.finalizeDone, 2 * static_cast<std::int64_t>(joined.size()));
}

}  // namespace
}  // namespace vn

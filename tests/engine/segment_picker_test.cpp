#include "apps/service/engine/segment_picker.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "apps/service/engine/download_plan.h"

namespace vn {
namespace {

constexpr std::int64_t kMiB = 1048576;

TEST(SegmentPicker, HandsOutPlannedSegmentsInOrderFirst) {
  std::vector<DownloadSegment> segments{{0, 99, 0}, {100, 199, 0}};
  std::mutex mutex;
  SegmentPicker picker(segments, mutex, true, 32);
  EXPECT_EQ(picker.Next(), 0u);
  EXPECT_EQ(picker.Next(), 1u);
  EXPECT_EQ(picker.Next(), std::nullopt);  // remainders far below 1 MiB
}

TEST(SegmentPicker, SplitsLargestRemainder) {
  std::vector<DownloadSegment> segments{{0, 9999999, 2000000}, {10000000, 10999999, 0}};
  segments.reserve(32);
  std::mutex mutex;
  SegmentPicker picker(segments, mutex, true, 32);
  picker.Next();
  picker.Next();
  EXPECT_EQ(picker.Next(), 2u);
  ASSERT_EQ(segments.size(), 3u);
  EXPECT_EQ(segments[0].start, 0);
  EXPECT_EQ(segments[0].end, 5999999);
  EXPECT_EQ(segments[0].downloadedBytes, 2000000);
  EXPECT_EQ(segments[2].start, 6000000);
  EXPECT_EQ(segments[2].end, 9999999);
  EXPECT_EQ(segments[2].downloadedBytes, 0);
}

TEST(SegmentPicker, LeavesRemaindersBelowOneMiB) {
  std::vector<DownloadSegment> segments{{0, kMiB - 1, 1}};
  std::mutex mutex;
  SegmentPicker picker(segments, mutex, true, 32);
  picker.Next();
  EXPECT_EQ(picker.Next(), std::nullopt);
  EXPECT_EQ(segments.size(), 1u);
}

TEST(SegmentPicker, NeverGrowsBeyondItsRoomOrSplitsWithoutRanges) {
  std::vector<DownloadSegment> segments{{0, 100 * kMiB, 0}};
  std::mutex mutex;
  SegmentPicker full(segments, mutex, true, 1);
  full.Next();
  EXPECT_EQ(full.Next(), std::nullopt);
  SegmentPicker noRanges(segments, mutex, false, 32);
  noRanges.Next();
  EXPECT_EQ(noRanges.Next(), std::nullopt);
  EXPECT_EQ(segments.size(), 1u);
  EXPECT_EQ(SegmentRoom(true, 8, 3), 128u);
  EXPECT_EQ(SegmentRoom(false, 1, 1), 2u);
}

}  // namespace
}  // namespace vn

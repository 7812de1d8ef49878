#include "apps/service/engine/download_plan.h"

#include <gtest/gtest.h>

namespace vn {
namespace {

constexpr std::int64_t kMiB = 1048576;

TEST(DownloadPlan, ConnectionCountFollowsTheSizeTable) {
  EXPECT_EQ(EffectiveConnectionCount(true, 3 * kMiB, 8), 1);
  EXPECT_EQ(EffectiveConnectionCount(true, 4 * kMiB - 1, 32), 1);
  EXPECT_EQ(EffectiveConnectionCount(true, 10 * kMiB, 1), 8);
  EXPECT_EQ(EffectiveConnectionCount(true, 10 * kMiB, 12), 12);
  EXPECT_EQ(EffectiveConnectionCount(true, 10 * kMiB, 40), 16);
  EXPECT_EQ(EffectiveConnectionCount(true, 100 * kMiB, 1), 16);
  EXPECT_EQ(EffectiveConnectionCount(true, 100 * kMiB, 30), 24);
  EXPECT_EQ(EffectiveConnectionCount(true, 1024 * kMiB, 64), 32);
  EXPECT_EQ(EffectiveConnectionCount(true, 512 * kMiB, 8), 16);
  EXPECT_EQ(EffectiveConnectionCount(false, 1024 * kMiB, 32), 1);
}

TEST(DownloadPlan, SplitsIntoEqualSharesWithTheRemainderLast) {
  const auto even = PlanSegments(true, 100 * kMiB, 16);
  ASSERT_EQ(even.size(), 16u);
  for (std::size_t i = 0; i < even.size(); ++i) {
    EXPECT_EQ(even[i].start, static_cast<std::int64_t>(i) * 6553600);
    EXPECT_EQ(SegmentLength(even[i]), 6553600);
    EXPECT_EQ(even[i].downloadedBytes, 0);
  }
  const auto uneven = PlanSegments(true, 10 * kMiB + 5, 8);
  ASSERT_EQ(uneven.size(), 8u);
  EXPECT_EQ(SegmentLength(uneven[0]), 1310720);
  EXPECT_EQ(SegmentLength(uneven[7]), 1310725);
  EXPECT_EQ(uneven[7].end, 10 * kMiB + 4);
}

TEST(DownloadPlan, WithoutRangesOneSegmentCoversTheWhole) {
  const auto known = PlanSegments(false, 5000, 8);
  ASSERT_EQ(known.size(), 1u);
  EXPECT_EQ(known[0].start, 0);
  EXPECT_EQ(known[0].end, 4999);
  const auto unknown = PlanSegments(false, 0, 8);
  ASSERT_EQ(unknown.size(), 1u);
  EXPECT_EQ(unknown[0].end, 0);
}

}  // namespace
}  // namespace vn

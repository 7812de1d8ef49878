#include "apps/service/engine/download_plan.h"

#include <algorithm>

namespace vn {
namespace {

constexpr std::int64_t kMiB = 1048576;

}  // namespace

std::int32_t EffectiveConnectionCount(bool rangeSupport, std::int64_t totalBytes,
                                      std::int32_t requested) {
  if (!rangeSupport || totalBytes < 4 * kMiB) return 1;
  if (totalBytes < 64 * kMiB) return std::clamp(requested, 8, 16);
  if (totalBytes < 512 * kMiB) return std::clamp(requested, 16, 24);
  return std::clamp(requested, 16, 32);
}

std::vector<DownloadSegment> PlanSegments(bool rangeSupport, std::int64_t totalBytes,
                                          std::int32_t connectionCount) {
  if (!rangeSupport || totalBytes <= 0) {
    return {DownloadSegment{0, totalBytes > 0 ? totalBytes - 1 : 0, 0}};
  }
  const std::int64_t count = std::max<std::int32_t>(1, connectionCount);
  const std::int64_t share = totalBytes / count;
  std::vector<DownloadSegment> segments;
  segments.reserve(static_cast<std::size_t>(count));
  for (std::int64_t i = 0; i < count; ++i) {
    const std::int64_t end = i + 1 == count ? totalBytes - 1 : (i + 1) * share - 1;
    segments.push_back(DownloadSegment{i * share, end, 0});
  }
  return segments;
}

std::size_t SegmentRoom(bool rangeSupport, std::size_t workerCount, std::size_t segmentCount) {
  if (!rangeSupport) return segmentCount + 1;
  return std::max(kSegmentsPerWorker * std::max<std::size_t>(1, workerCount), segmentCount + 1);
}

}  // namespace vn

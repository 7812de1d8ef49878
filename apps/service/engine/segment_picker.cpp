#include "apps/service/engine/segment_picker.h"

namespace vn {

SegmentPicker::SegmentPicker(std::vector<DownloadSegment>& segments, std::mutex& segmentMutex,
                             bool splitting, std::size_t room)
    : segments(segments), segmentMutex(segmentMutex), splitting(splitting), room(room) {}

std::optional<std::size_t> SegmentPicker::Next() {
  std::lock_guard lock(segmentMutex);
  if (nextIndex < segments.size()) return nextIndex++;
  if (!splitting || segments.size() >= room) return std::nullopt;
  return SplitLargestRemainder();
}

std::optional<std::size_t> SegmentPicker::SplitLargestRemainder() {
  std::optional<std::size_t> largest;
  std::int64_t largestRemainder = 0;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const std::int64_t remainder = SegmentLength(segments[i]) - segments[i].downloadedBytes;
    if (remainder > largestRemainder) {
      largest = i;
      largestRemainder = remainder;
    }
  }
  if (!largest || largestRemainder < kMinSplitBytes) return std::nullopt;

  DownloadSegment& old = segments[*largest];
  // The owner may be writing a chunk it has not counted yet; the new end lies
  // at least half a split's minimum beyond the counted bytes, which is more
  // than one chunk, so that chunk always stays inside the shortened range.
  const std::int64_t mid = old.start + old.downloadedBytes + largestRemainder / 2;
  const DownloadSegment upper{mid, old.end, 0};
  old.end = mid - 1;
  segments.push_back(upper);
  nextIndex = segments.size();
  return segments.size() - 1;
}

}  // namespace vn

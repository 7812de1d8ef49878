#pragma once

// Hands segments of one run to its workers: first every planned segment in
// list order, then (with range support) the upper half of the largest
// unfinished remainder, down to 1 MiB, until the list reaches its room.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "apps/service/task/download_task.h"

namespace vn {

// Remainders smaller than this are left to the worker that has them.
inline constexpr std::int64_t kMinSplitBytes = 1048576;

// Holds references: segments and segmentMutex must outlive the picker. Any
// worker thread may call Next; it takes segmentMutex. Never grows segments
// beyond room, so the list is never reallocated while workers run (reserve it
// to room first).
class SegmentPicker {
 public:
  SegmentPicker(std::vector<DownloadSegment>& segments, std::mutex& segmentMutex, bool splitting,
                std::size_t room);

  // The index of the segment the calling worker should transfer next, or
  // nullopt when there is no more work for it.
  std::optional<std::size_t> Next();

 private:
  // Splits the largest remainder; segmentMutex must be held.
  std::optional<std::size_t> SplitLargestRemainder();

  std::vector<DownloadSegment>& segments;  // guarded by segmentMutex
  std::mutex& segmentMutex;
  const bool splitting;
  const std::size_t room;
  std::size_t nextIndex = 0;  // guarded by segmentMutex
};

}  // namespace vn

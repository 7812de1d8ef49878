#pragma once

// How many connections a download gets and how its bytes are first divided.
// Pure functions; any thread.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "apps/service/task/download_task.h"

namespace vn {

// Splitting may grow a run's segment list up to this many entries per worker.
inline constexpr std::size_t kSegmentsPerWorker = 16;

// The connection count a run uses, from the size and the client's request:
// 1 without range support or below 4 MiB, else the request clamped to
// 8..16 (below 64 MiB), 16..24 (below 512 MiB) or 16..32.
std::int32_t EffectiveConnectionCount(bool rangeSupport, std::int64_t totalBytes,
                                      std::int32_t requested);

// A fresh plan: without range support one segment over the whole resource
// ({0, 0, 0} when the size is unknown); with it, connectionCount equal shares,
// the last one taking the remainder.
std::vector<DownloadSegment> PlanSegments(bool rangeSupport, std::int64_t totalBytes,
                                          std::int32_t connectionCount);

// Capacity the segment list may grow to while workers run.
std::size_t SegmentRoom(bool rangeSupport, std::size_t workerCount, std::size_t segmentCount);

}  // namespace vn

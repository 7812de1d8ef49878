#pragma once

// Transfer of one segment of a running download into its partial file.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>

#include "apps/service/engine/download_control.h"
#include "apps/service/task/download_task.h"
#include "platform/http.h"

namespace vn {

// What all segment workers of one run share. The task runner owns every
// referenced object and keeps it alive until all workers are joined.
struct SegmentJob {
  // totalBytes is read only (0 or less: size unknown); segments' start, end,
  // downloadedBytes and the list's length are guarded by segmentMutex.
  DownloadTask& task;
  const std::filesystem::path& segmentsFolder;
  std::mutex& segmentMutex;
  DownloadControl& control;
  const platform::RequestTarget& target;
  // Bytes on disk over all segments of the run; workers add what they write
  // and subtract a segment's count when they restart it from zero.
  std::atomic<std::int64_t>& transferredBytes;
  // Size unknown: raised when the body ended cleanly, the only proof that the
  // whole resource arrived.
  std::atomic<bool>& wholeBodyReceived;
  // Raised by the first worker that gets an answer which is not the probed
  // resource (the file changed on the server); every worker then ends as on a
  // stop request and the runner decides what follows.
  std::atomic<bool>& resourceChanged;
  // Raised by the runner when one worker has failed for good; the others then
  // end as on a stop request, which stays the user's alone.
  std::atomic<bool>& transferFailed;
};

// Fetches the missing bytes of segment index over connection (the calling
// worker's own) and appends them to its partial file, retrying broken
// attempts. Every request names the probed validator in If-Range, and every
// answer is checked against the probe before a byte of it is written. Returns
// when the segment is complete, a stop is requested, or resourceChanged is
// raised (by this call or another worker) or transferFailed is raised; throws
// std::runtime_error when it gives up:
//   "Failed to open segment file", the system's text of a failed write
//   ("No space left on device"), kPartialWithoutContentRange,
//   "Segment download stalled before completion" and
//   "Segment download ended before the full range was received" at once;
//   "Failed to start segment request", "Server returned HTTP N",
//   "Server does not support multi-part downloads for this file",
//   "Failed to reset segment file", "Failed while reading segment data" after
//   the eighth consecutive attempt without progress.
// A stall, a broken body, a refused, reset or timed-out connection, 5xx and
// 429 come as TransientFailure (with the server's Retry-After).
// With an unknown size every attempt starts over from byte 0 (there is no
// range to resume from) and only a cleanly ended body completes the segment;
// its end is then set to the last byte received.
void TransferSegment(const SegmentJob& job, platform::HttpConnection& connection,
                     std::size_t index);

}  // namespace vn

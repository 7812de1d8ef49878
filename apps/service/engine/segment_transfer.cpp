#include "apps/service/engine/segment_transfer.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>

#include "apps/service/engine/content_range.h"
#include "apps/service/engine/partial_files.h"
#include "apps/service/engine/probed_resource.h"
#include "apps/service/engine/segment_picker.h"
#include "apps/service/engine/speed_limiter.h"
#include "apps/service/engine/transient_failure.h"
#include "platform/append_file.h"

namespace vn {
namespace {

constexpr int kMaxAttemptsWithoutProgress = 8;
constexpr auto kRetryPause = std::chrono::milliseconds(150);
constexpr const char* kRequestFailed = "Failed to start segment request";

// A chunk is written outside segmentMutex, after it was cut to the segment's
// end. A concurrent split never moves that end closer than half the split
// minimum to the counted bytes, so the chunk must be no larger than that.
static_assert(static_cast<std::int64_t>(platform::kHttpChunkBytes) <= kMinSplitBytes / 2);

// Failures that retrying cannot mend: they leave at once.
class FatalSegmentError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct SegmentState {
  std::int64_t start = 0;
  std::int64_t end = 0;
  std::int64_t downloadedBytes = 0;
  std::int64_t length = 0;
};

SegmentState ReadSegment(const SegmentJob& job, std::size_t index) {
  std::lock_guard lock(job.segmentMutex);
  const DownloadSegment& segment = job.task.segments[index];
  return SegmentState{segment.start, segment.end, segment.downloadedBytes, SegmentLength(segment)};
}

// Forgets the segment's bytes so that it starts over from its first byte.
void ResetSegmentCount(const SegmentJob& job, std::size_t index) {
  std::lock_guard lock(job.segmentMutex);
  DownloadSegment& segment = job.task.segments[index];
  job.transferredBytes.fetch_sub(segment.downloadedBytes);
  segment.downloadedBytes = 0;
}

// A stop asked for by the user, or the end of this run's transfer because the
// resource changed or another worker failed.
bool Stopping(const SegmentJob& job) {
  return job.control.stopRequested.load() || job.resourceChanged.load() ||
         job.transferFailed.load();
}

// Also after a stop: the pause is the window in which a resume right after a
// pause or cancel revives this run instead of starting a new one.
void PauseBeforeRetry(const DownloadControl& control) {
  control.clock->SleepUntil(control.clock->Now() + kRetryPause);
}

// One request for the segment's missing bytes. Returns normally when the
// response ended (cleanly, by a stop, or because the segment has all its
// bytes); throws FatalSegmentError or std::runtime_error otherwise.
void RunAttempt(const SegmentJob& job, platform::HttpConnection& connection, std::size_t index,
                platform::AppendFile& file, const std::filesystem::path& partPath, const SegmentState& state) {
  const bool sizeKnown = job.task.totalBytes > 0;
  std::optional<platform::ByteRange> range;
  if (sizeKnown) range = platform::ByteRange{state.start + state.downloadedBytes, state.end};

  std::string failure;
  bool fatal = false;
  bool transient = false;
  std::chrono::seconds retryAfter(0);
  const auto fail = [&](std::string text, bool isFatal) {
    failure = std::move(text);
    fatal = isFatal;
    return false;
  };

  platform::HttpCallbacks callbacks;
  callbacks.onHead = [&](const platform::HttpResponseHead& head) {
    // Anything but the resource itself (an unfollowed redirect, 202, 204, an
    // unasked 304, ...) is not the file, whatever its body says.
    if (head.status != 200 && head.status != 206) {
      transient = IsTransientStatus(head.status);
      retryAfter = RetryAfterDelay(head.retryAfter);
      return fail("Server returned HTTP " + std::to_string(head.status), false);
    }
    // Its bytes belong nowhere in particular, whatever was asked.
    if (head.status == 206 && !ParseContentRange(head.contentRange)) {
      return fail(kPartialWithoutContentRange, true);
    }
    if (!sizeKnown) return true;
    if (!IsProbedResource(head, job.task, range->first)) {
      job.resourceChanged.store(true);
      return false;
    }
    std::size_t segmentCount = 0;
    {
      std::lock_guard lock(job.segmentMutex);
      segmentCount = job.task.segments.size();
    }
    if (segmentCount >= 2 && head.status != 206) {
      return fail("Server does not support multi-part downloads for this file", false);
    }
    if (segmentCount == 1 && head.status == 200 && state.downloadedBytes > 0) {
      // The server ignored the range and sends the resource from byte 0.
      file.Close();
      if (!file.Open(partPath, true)) return fail("Failed to reset segment file", false);
      ResetSegmentCount(job, index);
    }
    return true;
  };
  callbacks.onChunk = [&](const char* data, std::size_t size) {
    if (Stopping(job)) return false;
    std::size_t accepted = size;
    if (sizeKnown) {
      std::lock_guard lock(job.segmentMutex);
      const DownloadSegment& segment = job.task.segments[index];
      const std::int64_t missing = SegmentLength(segment) - segment.downloadedBytes;
      if (missing <= 0) return false;
      accepted = static_cast<std::size_t>(std::min<std::int64_t>(missing, size));
    }
    // The system's reason ("No space left on device") tells the user what to mend.
    if (!file.Write(data, accepted)) return fail(file.ErrorText(), true);
    {
      std::lock_guard lock(job.segmentMutex);
      job.task.segments[index].downloadedBytes += static_cast<std::int64_t>(accepted);
    }
    job.transferredBytes.fetch_add(static_cast<std::int64_t>(accepted));
    ThrottleTransfer(job.control, static_cast<std::int64_t>(accepted));
    // A cut chunk means the range is full: the rest of the body is not wanted.
    return accepted == size;
  };
  callbacks.shouldStop = [&] { return Stopping(job); };

  const platform::HttpResult result =
      connection.Get(job.target, range, callbacks, sizeKnown ? IfRangeValidator(job.task) : "");
  if (!failure.empty()) {
    if (fatal) throw FatalSegmentError(failure);
    if (transient) throw TransientFailure(failure, retryAfter);
    throw std::runtime_error(failure);
  }
  switch (result.outcome) {
    case platform::HttpOutcome::RequestFailed:
      if (platform::IsTransientFailure(result)) throw TransientFailure(kRequestFailed);
      throw std::runtime_error(kRequestFailed);
    case platform::HttpOutcome::BodyFailed:
      throw TransientFailure("Failed while reading segment data");
    case platform::HttpOutcome::Completed:
      if (!sizeKnown) {
        std::lock_guard lock(job.segmentMutex);
        DownloadSegment& segment = job.task.segments[index];
        segment.end = segment.start + segment.downloadedBytes - 1;
        job.wholeBodyReceived.store(true);
      }
      break;
    case platform::HttpOutcome::Stopped:
      break;
  }
}

}  // namespace

void TransferSegment(const SegmentJob& job, platform::HttpConnection& connection,
                     std::size_t index) {
  const bool sizeKnown = job.task.totalBytes > 0;
  const std::filesystem::path partPath = PartFilePath(job.segmentsFolder, index);
  const auto isComplete = [&](const SegmentState& state) {
    return sizeKnown ? state.downloadedBytes >= state.length : job.wholeBodyReceived.load();
  };

  int attemptsWithoutProgress = 0;
  // Unknown size: every attempt starts from 0, so progress means getting
  // further than any attempt before.
  std::int64_t furthest = 0;
  while (!Stopping(job)) {
    if (!sizeKnown) {
      if (job.wholeBodyReceived.load()) break;
      ResetSegmentCount(job, index);
    }
    const SegmentState state = ReadSegment(job, index);
    if (isComplete(state)) break;

    platform::AppendFile file;
    if (!file.Open(partPath, state.downloadedBytes == 0)) {
      throw FatalSegmentError("Failed to open segment file");
    }
    const std::int64_t baseline = sizeKnown ? state.downloadedBytes : furthest;
    try {
      RunAttempt(job, connection, index, file, partPath, state);
      if (!file.Close()) throw FatalSegmentError(file.ErrorText());
    } catch (const FatalSegmentError&) {
      file.Close();
      throw;
    } catch (const std::exception&) {
      file.Close();
      const std::int64_t reached = ReadSegment(job, index).downloadedBytes;
      furthest = std::max(furthest, reached);
      if (job.resourceChanged.load()) break;
      if (reached > baseline) {
        attemptsWithoutProgress = 1;
      } else if (++attemptsWithoutProgress >= kMaxAttemptsWithoutProgress) {
        throw;
      }
      PauseBeforeRetry(job.control);
      continue;
    }

    const SegmentState after = ReadSegment(job, index);
    if (isComplete(after) || job.resourceChanged.load()) break;
    furthest = std::max(furthest, after.downloadedBytes);
    // The response ended early without an error.
    if (after.downloadedBytes > baseline) {
      attemptsWithoutProgress = 0;
    } else if (++attemptsWithoutProgress >= kMaxAttemptsWithoutProgress) {
      throw TransientFailure("Segment download stalled before completion");
    }
    PauseBeforeRetry(job.control);
  }

  if (!Stopping(job) && !isComplete(ReadSegment(job, index))) {
    throw FatalSegmentError("Segment download ended before the full range was received");
  }
}

}  // namespace vn

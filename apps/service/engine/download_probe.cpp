#include "apps/service/engine/download_probe.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "apps/service/engine/content_range.h"
#include "apps/service/engine/transient_failure.h"

namespace vn {
namespace {

constexpr int kProbeAttempts = 4;
constexpr auto kProbeBackoffStep = std::chrono::milliseconds(400);
// A 206 body this small is read to its end so that the connection can carry
// the first segment; anything larger is abandoned.
constexpr std::int64_t kSmallProbeBody = 1024;
// The failure while no attempt has ended with an error of its own.
constexpr const char* kNoAnswerYet = "Failed to probe the download";

std::string HttpStatusError(long status) {
  return "Server returned HTTP " + std::to_string(status);
}

}  // namespace

ServerStatusError::ServerStatusError(long status)
    : std::runtime_error(HttpStatusError(status)), refusedStatus(status) {}

std::optional<std::int64_t> ParseContentRangeTotal(const std::string& contentRange) {
  const auto slash = contentRange.rfind('/');
  if (slash == std::string::npos) return std::nullopt;
  const char* text = contentRange.c_str() + slash + 1;
  char* end = nullptr;
  errno = 0;
  const long long total = std::strtoll(text, &end, 10);
  if (end == text || errno == ERANGE) return std::nullopt;
  return total;
}

std::optional<ProbeResult> ProbeDownload(platform::HttpSession& session,
                                         const platform::RequestTarget& target,
                                         const std::atomic<bool>& stopRequested,
                                         WaitClock& clock) {
  platform::HttpConnection connection(session);
  std::string lastError = kNoAnswerYet;
  bool lastErrorTransient = false;
  std::chrono::seconds retryAfter(0);
  ProbeResult result;

  for (int attempt = 0; attempt < kProbeAttempts; ++attempt) {
    if (stopRequested.load()) break;
    if (attempt > 0 && !SleepUnlessStopped(clock, kProbeBackoffStep * attempt, stopRequested)) break;

    std::optional<platform::HttpResponseHead> head;
    std::int64_t bodyBytes = 0;
    platform::HttpCallbacks callbacks;
    callbacks.onHead = [&](const platform::HttpResponseHead& received) {
      head = received;
      return received.status == 206 && received.contentLength <= kSmallProbeBody;
    };
    callbacks.onChunk = [&](const char*, std::size_t size) {
      bodyBytes += static_cast<std::int64_t>(size);
      return bodyBytes <= kSmallProbeBody;
    };
    callbacks.shouldStop = [&] { return stopRequested.load(); };

    const platform::HttpResult outcome =
        connection.Get(target, platform::ByteRange{0, 0}, callbacks);
    if (!head) {
      if (outcome.outcome != platform::HttpOutcome::Stopped) {
        lastError = "Failed to probe the download (" + platform::DescribeHttpFailure(outcome) + ")";
        lastErrorTransient = platform::IsTransientFailure(outcome);
        retryAfter = std::chrono::seconds(0);
      }
      continue;
    }

    const long status = head->status;
    if (IsTransientStatus(status)) {
      lastError = HttpStatusError(status);
      lastErrorTransient = true;
      retryAfter = RetryAfterDelay(head->retryAfter);
      continue;
    }
    // A range request on an empty resource cannot be satisfied; the server
    // says so with the total 0, which is a complete answer, not a failure.
    const bool emptyResource = status == 416 && ParseContentRangeTotal(head->contentRange) == 0;
    // Only 200 and 206 carry the resource: the body of an unfollowed redirect,
    // a 202, 203 or 204, or an unasked 304 is not the file.
    if (status != 200 && status != 206 && !emptyResource) {
      throw ServerStatusError(status);
    }

    result = ProbeResult{};
    if (status == 206) {
      const auto range = ParseContentRange(head->contentRange);
      // Its body could be any part of the file; the server will not do better
      // on a second try.
      if (!range) throw std::runtime_error(kPartialWithoutContentRange);
      result.totalBytes = std::max<std::int64_t>(0, range->total);
      result.rangeSupport = result.totalBytes > 0;
    } else if (!emptyResource) {
      result.totalBytes = std::max<std::int64_t>(0, head->contentLength);
    }
    result.etag = head->etag;
    result.lastModified = head->lastModified;
    result.contentDisposition = head->contentDisposition;
    lastError.clear();
    break;
  }

  // A stop ends the probe as the stop says, whether it came before, during or
  // between attempts: the server may well be fine.
  if (!lastError.empty() && stopRequested.load()) return std::nullopt;
  if (!lastError.empty() && lastErrorTransient) throw TransientFailure(lastError, retryAfter);
  if (!lastError.empty()) throw std::runtime_error(lastError);
  return result;
}

}  // namespace vn

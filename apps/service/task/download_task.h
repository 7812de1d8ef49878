#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vn {

// Life-cycle state of a download. The numbers are fixed: they are compared
// against and turned into text; never renumber them.
enum class DownloadStatus : std::int32_t {
  Queued = 0,
  Starting = 1,
  Downloading = 2,
  Paused = 3,
  Completed = 4,
  Failed = 5,
  Verifying = 6,
  Cancelled = 7,
};

// One inclusive byte range of the remote resource. Its index is its position
// in DownloadTask::segments; ranges created by a split are appended, so the
// list is not in offset order.
struct DownloadSegment {
  std::int64_t start = 0;
  std::int64_t end = 0;  // inclusive
  std::int64_t downloadedBytes = 0;
};

// Length of a segment's range; 0 when end lies before start.
std::int64_t SegmentLength(const DownloadSegment& segment);

// The value record of one download, HTTP or torrent snapshot. Plain value: every
// component works on its own copy.
struct DownloadTask {
  std::string id;
  std::string url;
  std::string outputPath;
  std::string fileName;
  std::string referrer;
  std::string userAgent;
  std::string etag;
  std::string lastModified;
  std::string checksumAlgorithm;
  std::string expectedChecksum;
  std::string actualChecksum;
  std::string failureReason;
  std::int64_t totalBytes = 0;  // 0 or less: size unknown
  std::int64_t downloadedBytes = 0;
  std::int64_t speedBytesPerSecond = 0;
  std::int64_t maxSpeedBytesPerSecond = 0;
  std::int64_t finalizeDone = 0;
  std::int64_t finalizeTotal = 0;
  bool useSpeedLimiter = false;
  bool isTorrent = false;
  std::int32_t connectionCount = 1;
  DownloadStatus status = DownloadStatus::Queued;
  std::vector<DownloadSegment> segments;
  // Which run of the download this copy belongs to: the service numbers the
  // runs it queues and ignores reports of any but the latest. Never stored,
  // never listed.
  std::uint64_t runSerial = 0;
  // Set when the URL was replaced since the last probe; the next probe must
  // then bring back every validator the old answers had, or the progress
  // goes. Never stored (a restarted service applies the usual rule), never
  // listed.
  bool urlRefreshed = false;
  // The client named no file and the URL gave no name with an extension: the
  // server's own name for the file, from the first probe, may replace it. Set
  // at enqueue, cleared once a probe has settled the name. Never stored, never
  // listed.
  bool nameFromServerAllowed = false;
  // The Cookie header the browser would have sent for the URL. Held in memory
  // only: never stored, never listed, never written to any file or output, so
  // a restarted service has none.
  std::string cookie;
  // The download was enqueued with a cookie. Stored, so that after a restart a
  // refusal (401, 403) is told as an expired sign-in. Never listed.
  bool signedIn = false;
};

// Sets downloadedBytes and every segment's downloadedBytes to 0 (the segment
// list is kept), as for a download whose files are gone.
void ZeroProgress(DownloadTask& task);

// The bytes the segments hold together.
std::int64_t SumDownloaded(const std::vector<DownloadSegment>& segments);

// "Queued" for Queued and for every value outside Starting..Cancelled.
std::string StatusText(DownloadStatus status);

// Exact, case-sensitive; any unknown text (the empty one included) is Queued.
DownloadStatus StatusFromText(const std::string& text);

}  // namespace vn

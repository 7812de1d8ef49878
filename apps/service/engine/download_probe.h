#pragma once

// The first request of every run: a one-byte range GET that tells the size of
// the resource, whether the server honours ranges, and its validators.

#include <atomic>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "apps/service/engine/wait_clock.h"
#include "platform/http.h"

namespace vn {

struct ProbeResult {
  std::int64_t totalBytes = 0;  // 0: size unknown (or an empty resource)
  bool rangeSupport = false;    // 206 with a usable size
  std::string etag;
  std::string lastModified;
  std::string contentDisposition;  // the raw header, "" when absent
};

// "Server returned HTTP N": the server answered, with a status that is not the
// file and will not change by itself.
class ServerStatusError : public std::runtime_error {
 public:
  explicit ServerStatusError(long status);
  long status() const { return refusedStatus; }

 private:
  long refusedStatus;
};

// The total after the last "/" of a Content-Range value, parsed like strtoll
// (leading blanks skipped, trailing text ignored); nullopt when there is no
// "/", no number ("*") or the number is out of range. Read from a 416 answer
// ("bytes */0"); a 206 answer's range is ParseContentRange's.
std::optional<std::int64_t> ParseContentRangeTotal(const std::string& contentRange);

// Up to four attempts, 400/800/1,200 ms apart; 5xx, 429 and transport failures
// are retried; every other status but 200 and 206 fails at once with a
// ServerStatusError, and so does a 206 without a valid Content-Range
// (kPartialWithoutContentRange). A 416 naming a total of 0 is an empty
// resource, not a failure. stopRequested ends the attempts (and an attempt in flight); when
// no attempt succeeded by then, nullopt is returned: the run was stopped, and
// ends as the stop says. Throws std::runtime_error with the latest error
// otherwise: a TransientFailure (with the server's Retry-After) when that
// error may pass by itself. The pauses between attempts are waited on clock. Called on the
// run thread only.
std::optional<ProbeResult> ProbeDownload(platform::HttpSession& session,
                                         const platform::RequestTarget& target,
                                         const std::atomic<bool>& stopRequested,
                                         WaitClock& clock);

}  // namespace vn

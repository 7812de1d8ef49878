#pragma once

// The one line `varnel add --wait` prints when a download ends: what arrived,
// how long it took, and the file's SHA-256 as the service found it. Pure; any
// thread.

#include <chrono>
#include <cstdint>
#include <string>

#include "apps/varnel/task_view.h"

namespace vn::cli {

struct DownloadEnd {
  TaskView task;                        // the last listing, status ended
  std::chrono::milliseconds waited{0};  // from the start of waiting to the end
  std::int64_t bytesAtStart = 0;        // downloadedBytes when the wait began
  std::string expectedChecksum;         // "" when none was given or not known
  std::string actualChecksum;           // "" when not known
};

// "copy.bin: 3 MiB in 1.2s, 2.5 MiB/s, SHA-256 verified 1f2e3d4c5b6a7980" for a
// completed download ("computed" when no checksum was given; the digest part
// left out when it is not known); "name: 1.5 MiB of 3 MiB in 4.0s, 384 KiB/s,
// Failed" otherwise. The rate is what arrived during the wait over its time.
// No control characters.
std::string RenderClosingLine(const DownloadEnd& end);

}  // namespace vn::cli

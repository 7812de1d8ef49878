#pragma once

// A download whose address was refreshed, and whose old address gave no
// validators, cannot tell from the probe alone whether the new address serves
// the same file: a different file of the same size would be appended to the
// old bytes. The overlap check fetches the last bytes already held once more
// from the new address and compares them with the disk. Run thread only.

#include <atomic>
#include <cstdint>
#include <filesystem>

#include "apps/service/task/download_task.h"
#include "platform/http.h"

namespace vn {

// How much of what is on disk is fetched again.
inline constexpr std::int64_t kOverlapCheckBytes = 64 * 1024;

// True when the last min(kOverlapCheckBytes, held) bytes of the segment that
// holds the most come back equal from target, as a 206 of the probed resource
// (task carries the new probe's size and validators). False for anything
// else: other bytes, a 200, a failed request, a part file that cannot be read,
// or a stop. True when nothing is held (there is nothing to mix).
bool OverlapMatches(platform::HttpSession& session, const platform::RequestTarget& target,
                    const DownloadTask& task, const std::filesystem::path& segmentsFolder,
                    const std::atomic<bool>& stop);

}  // namespace vn

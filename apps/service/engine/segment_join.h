#pragma once

// Joining a finished download's partial files into its final file.

#include <filesystem>
#include <string>

#include "apps/service/task/download_task.h"
#include "apps/service/engine/finishing_reporter.h"

namespace vn {

// Moves the partial files of task's segments, in offset order and each one
// whole (whatever its range says), into a file in segmentsFolder, renames that
// to finalPath and returns the SHA-256 digest (64 lower-case hex digits) of
// the joined bytes. A second thread hashes each partial file, in offset
// order, before it moves, so the joined file is never read back. Each partial
// file is emptied as its bytes move, so the join needs at most one chunk of
// free space beyond the download's size; a partial file that cannot be opened contributes nothing (the size check that
// follows catches it). On a failure the joined file is removed and each
// partial file holds, from its start, the bytes that were not moved: the
// caller must bring the segments' counts in line (ReconcilePartFiles). A file
// already at finalPath is never replaced, unless it holds what task last
// completed with (its actualChecksum) or exactly the joined bytes. Every byte
// counts twice in reporter, once joined and once hashed. Throws
// std::runtime_error "Failed to create final output file" (also when another
// file holds the final name), "Failed to write final output file: " followed
// by the system's reason, or a hashing failure. Run thread only, after every
// worker has been joined.
std::string JoinPartFiles(const DownloadTask& task, const std::filesystem::path& segmentsFolder,
                          const std::filesystem::path& finalPath, FinishingReporter& reporter);

}  // namespace vn

#pragma once

// Joining a finished download's partial files into its final file.

#include <filesystem>
#include <string>

#include "apps/service/task/download_task.h"
#include "apps/service/engine/finishing_reporter.h"

namespace vn {

// Writes the partial files of task's segments, in offset order and each one
// whole (whatever its range says), into a file in segmentsFolder, renames that to finalPath
// and returns the SHA-256 digest (64 lower-case hex digits) of the bytes
// joined: the copy runs inside the kernel while a second thread hashes the
// same ranges in the same order, so the joined file is never read again. A
// file already at finalPath is never replaced, unless it holds what task last
// completed with (its actualChecksum) or exactly the joined bytes. Every byte
// counts twice in reporter, once joined and once hashed. A partial file that
// cannot be opened contributes nothing; the size check that follows catches
// it. Throws std::runtime_error "Failed to create final output file" (also
// when another file holds the final name), "Failed to write final output file"
// or a hashing failure. Run thread only, after every worker has been joined.
std::string JoinPartFiles(const DownloadTask& task, const std::filesystem::path& segmentsFolder,
                          const std::filesystem::path& finalPath, FinishingReporter& reporter);

}  // namespace vn

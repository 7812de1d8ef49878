#pragma once

// Joining a finished download's partial files into its final file.

#include <filesystem>

#include "apps/service/engine/download_task.h"
#include "apps/service/engine/finishing_reporter.h"

namespace vn {

// Writes the partial files of task's segments, in offset order and each up to
// its range's length, into
// finalPath (created or truncated) through one 1 MiB buffer, adding each
// chunk to reporter. A partial file that cannot be opened contributes
// nothing; the size check that follows catches it. Throws std::runtime_error
// "Failed to create final output file" or "Failed to write final output file".
// Run thread only, after every worker has been joined.
void JoinPartFiles(const DownloadTask& task, const std::filesystem::path& segmentsFolder,
                   const std::filesystem::path& finalPath, FinishingReporter& reporter);

}  // namespace vn

#pragma once

// Names, reconciliation and removal of a download's partial files. The
// segment folder sits beside the final file and holds one file per segment
// ("0.part", "1.part", ...), named by the segment's index in the task's list
// and holding exactly the bytes of that segment received so far.
// Used by the task runner and by the service's delete and retry commands.

#include <cstdint>
#include <filesystem>
#include <string>

#include "apps/service/engine/download_task.h"

namespace vn {

struct ProbeResult;

// outputPath joined with fileName.
std::filesystem::path FinalFilePath(const DownloadTask& task);

// The final file's path with ".segments" appended, in the same folder. Pure.
std::filesystem::path SegmentsFolder(const DownloadTask& task);

// "<index>.part" inside the segment folder. Pure.
std::filesystem::path PartFilePath(const std::filesystem::path& segmentsFolder, std::size_t index);

// Brings each segment's downloadedBytes in line with its partial file (a
// missing file means 0; a different size means the smaller of size and range
// length). Returns false when a recorded count exceeds its range, meaning the
// recorded progress must be thrown away. Throws std::filesystem::filesystem_error
// ("exists", "file_size") when the file system refuses to answer.
bool ReconcilePartFiles(DownloadTask& task);

// Whether earlier progress of task survives a fresh probe: the task has
// segments; the probe found range support or there is a single segment; a
// probed size equals the size recorded when the run was queued
// (queuedTotalBytes, unless that is unknown) and the segments cover exactly
// that size; neither validator changed (an empty one never counts as changed).
bool KeepEarlierProgress(const DownloadTask& task, std::int64_t queuedTotalBytes,
                         const ProbeResult& probe);

// Removes the segment folder with its contents and, with removeFinalFile, the
// final file. Ignores every error.
void RemoveDownloadFiles(const DownloadTask& task, bool removeFinalFile);

}  // namespace vn

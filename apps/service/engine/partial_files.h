#pragma once

// Names, reconciliation and removal of a download's partial files. The
// segment folder sits beside the final file and holds one file per segment
// ("0.part", "1.part", ...), named by the segment's index in the task's list
// and holding exactly the bytes of that segment received so far.
// Used by the task runner and by the service's delete and retry commands.

#include <cstdint>
#include <filesystem>
#include <string>

#include "apps/protocol/error_texts.h"
#include "apps/service/task/download_task.h"

namespace vn {

struct ProbeResult;

// The failure text for a download whose folder or name is unusable.
inline constexpr const char* kInvalidFileName = error_text::kInvalidFileName;

// Whether text holds a zero byte, which no path handed to the system may hold.
bool HasZeroByte(const std::string& text);

// Whether a client's file name names a file strictly inside the output folder:
// not empty, no zero byte, relative, no "." or ".." part, no trailing separator.
// Sub-folders are allowed.
bool IsSafeFileName(const std::string& fileName);

// Whether every path of task can be derived safely: a named output folder
// without a zero byte, and a safe file name. Nothing is created, written or
// removed for a task that fails this.
bool HasSafeFilePaths(const DownloadTask& task);

// outputPath joined with fileName. Throws std::invalid_argument
// (kInvalidFileName) unless HasSafeFilePaths(task).
std::filesystem::path FinalFilePath(const DownloadTask& task);

// The final file's path with ".segments" appended, in the same folder. Pure;
// throws as FinalFilePath does.
std::filesystem::path SegmentsFolder(const DownloadTask& task);

// Creates the output folder, the sub-folders fileName names and the segment
// folder, and returns the segment folder. The sub-folders and the segment
// folder must be real folders: a symbolic link planted as one of them would
// send the partial files elsewhere, so it is never created through nor used.
// Throws std::runtime_error "Failed to create segment folder" for such a link
// or when a folder cannot be made, and as FinalFilePath does.
std::filesystem::path CreateSegmentsFolder(const DownloadTask& task);

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
// that size; neither validator changed (an empty one never counts as changed,
// but with task.urlRefreshed one the task had must be probed unchanged).
bool KeepEarlierProgress(const DownloadTask& task, std::int64_t queuedTotalBytes,
                         const ProbeResult& probe);

// The one way a download's files are removed. Removes the entries of the
// segment folder that are not folders, then the segment folder when that left
// it empty, and with removeFinalFile the final file unless it is a folder.
// Symbolic links are removed, never followed: a link planted as the final file,
// as the segment folder or inside it goes, its target stays. Does nothing at
// all for a task without HasSafeFilePaths, or whose sub-folders are not real
// folders. Ignores every error; never throws.
void RemoveDownloadFiles(const DownloadTask& task, bool removeFinalFile);

}  // namespace vn

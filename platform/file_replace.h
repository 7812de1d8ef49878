#pragma once

// Putting whole files in place: replacing a small file so that a crash or a
// power cut leaves either the old or the new content, never an empty or
// half-written file; and moving a finished file to a name that must not be
// taken from anybody else.

#include <filesystem>
#include <string_view>

namespace vn::platform {

// Writes content to a temporary file in target's folder, flushes it to the
// disk, renames it over target and flushes the folder. False on any failure,
// after which target is unchanged and the temporary file is gone. Any thread;
// concurrent callers for one target each leave a whole file (the last wins).
// On Windows the rename is MoveFileExW with write-through; there is no folder
// to flush.
bool ReplaceFileContents(const std::filesystem::path& target, std::string_view content);

// The same, with the bytes of the file source.
bool ReplaceFileWithCopy(const std::filesystem::path& target, const std::filesystem::path& source);

enum class MoveOutcome { kMoved, kTargetExists, kFailed };

// Renames from to to only when nothing (not even a dangling link) is at to;
// the check and the rename are one step. Both must be on one file system.
MoveOutcome MoveWithoutReplacing(const std::filesystem::path& from,
                                 const std::filesystem::path& to);

}  // namespace vn::platform

#pragma once

// Keeping a damaged file instead of writing over it: a file that cannot be
// read is renamed to "<name>.broken-<UTC time>" in its folder before anything
// new is written, so what a person may still recover is never lost.

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace vn::platform {

// The infix of every set-aside name, for the programs that look for them.
inline constexpr const char* kBrokenInfix = ".broken-";

// Renames file to "<name>.broken-<YYYYMMDDTHHMMSSZ>" (with "-2", "-3", ...
// when that is taken; nothing is ever replaced), and each existing
// "<name><suffix>" of companionSuffixes (SQLite's "-wal" and "-shm") to the
// new name plus the same suffix. Returns the new path of file, or an empty
// path when it could not be moved (it is then left as it is).
std::filesystem::path SetAsideBrokenFile(const std::filesystem::path& file,
                                         std::chrono::system_clock::time_point now,
                                         const std::vector<std::string>& companionSuffixes = {});

// The set-aside copies of file in its folder, in ascending name order (the
// oldest first), without their "-wal" and "-shm" companions.
std::vector<std::filesystem::path> FindSetAsideFiles(const std::filesystem::path& file);

}  // namespace vn::platform

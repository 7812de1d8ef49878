#pragma once

// How many downloads the service's database lists, for `varnel doctor`. A seam
// of its own so that a build without SQLite (the Windows cross build) still
// links varnel; it then reports the database as not checked.

#include <filesystem>

namespace vn::cli {

inline constexpr int kDatabaseNotCounted = -2;

// The count; -1 when the database does not open; kDatabaseNotCounted when this
// build has no SQLite to open it with. Any thread.
int CountDatabaseDownloads(const std::filesystem::path& path);

}  // namespace vn::cli

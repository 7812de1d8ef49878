#pragma once

// The one question about the database that programs other than the service
// ask (varnel doctor, and the service when it looks for an older database).

#include <filesystem>

namespace vn {

// Rows of the `downloads` table of the database at path, or -1 when it cannot
// be opened or counted. Never creates a file. Any thread.
int CountStoredDownloads(const std::filesystem::path& path);

}  // namespace vn

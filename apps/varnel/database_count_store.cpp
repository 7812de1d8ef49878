#include "apps/database/stored_download_count.h"
#include "apps/varnel/database_count.h"

namespace vn::cli {

int CountDatabaseDownloads(const std::filesystem::path& path) { return CountStoredDownloads(path); }

}  // namespace vn::cli

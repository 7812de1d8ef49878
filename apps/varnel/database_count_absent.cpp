// Builds without SQLite: the database cannot be opened, only found.
#include "apps/varnel/database_count.h"

namespace vn::cli {

int CountDatabaseDownloads(const std::filesystem::path&) { return kDatabaseNotCounted; }

}  // namespace vn::cli

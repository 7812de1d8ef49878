#include "apps/database/stored_download_count.h"

#include "apps/database/sqlite_handles.h"
#include "apps/database/store_schema.h"

namespace vn {

int CountStoredDownloads(const std::filesystem::path& path) {
  // Opened without the create flag: a candidate that vanished meanwhile must
  // not come back as an empty file.
  SqliteConnection connection = OpenExistingDatabase(path.string());
  if (!connection) return -1;
  sqlite3_stmt* raw = nullptr;
  const int prepared =
      sqlite3_prepare_v2(connection.get(), store_schema::kCountDownloads, -1, &raw, nullptr);
  SqliteStatement statement(raw);
  if (prepared != SQLITE_OK) return -1;
  if (sqlite3_step(statement.get()) != SQLITE_ROW) return -1;
  return sqlite3_column_int(statement.get(), 0);
}

}  // namespace vn

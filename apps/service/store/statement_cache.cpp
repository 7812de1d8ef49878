#include "apps/service/store/statement_cache.h"

namespace vn {

sqlite3_stmt* StatementCache::Get(sqlite3* connection, const char* sql) {
  for (auto& [text, statement] : statements) {
    if (text != sql) continue;
    // The result repeats the last step's error, which was reported then.
    sqlite3_reset(statement.get());
    sqlite3_clear_bindings(statement.get());
    return statement.get();
  }
  statements.emplace_back(sql, Prepare(connection, sql, SQLITE_PREPARE_PERSISTENT));
  return statements.back().second.get();
}

}  // namespace vn

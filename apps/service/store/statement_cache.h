#pragma once

// Statements prepared once on a connection and kept: preparing the save's
// upsert costs more than running it.

#include <utility>
#include <vector>

#include "apps/database/sqlite_handles.h"

namespace vn {

// Statements of one connection, each found by the address of its SQL text (the
// schema's constants, which live as long as the program). Clear must run
// before the connection closes, and whenever another connection takes its
// place. Not synchronized: the owner guards it with the connection's lock.
class StatementCache {
 public:
  // The statement for sql on connection, reset and without bindings; prepared
  // on first use. Throws as Prepare does. Valid until the next Clear.
  sqlite3_stmt* Get(sqlite3* connection, const char* sql);

  void Clear() { statements.clear(); }

 private:
  std::vector<std::pair<const char*, SqliteStatement>> statements;
};

}  // namespace vn

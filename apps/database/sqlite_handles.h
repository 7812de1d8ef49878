#pragma once

// Scope-bound owners of SQLite connections and statements, and the few checked
// calls every store operation is built from. Each returned handle belongs to the
// caller; a statement must die before the connection it was prepared on.
// Nothing here is shared between threads.

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>

namespace vn {

struct SqliteConnectionCloser {
  void operator()(sqlite3* connection) const { sqlite3_close(connection); }
};
using SqliteConnection = std::unique_ptr<sqlite3, SqliteConnectionCloser>;

struct SqliteStatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteStatementFinalizer>;

// sqlite3_open of path (which creates a missing file). Throws
// "Failed to open SQLite database: " plus SQLite's message.
SqliteConnection OpenDatabase(const std::string& path);

// sqlite3_open_v2 of an existing file for reading and writing; never creates
// one. Returns null instead of throwing.
SqliteConnection OpenExistingDatabase(const std::string& path);

// Runs statements that return no rows; throws the message SQLite reports.
void Execute(sqlite3* connection, const char* sql);

// Throws sqlite3_errmsg when preparation fails. flags as for sqlite3_prepare_v3
// (SQLITE_PREPARE_PERSISTENT for a statement that is kept).
SqliteStatement Prepare(sqlite3* connection, const char* sql, unsigned flags = 0);

// Throws sqlite3_errmsg unless result is SQLITE_OK or SQLITE_DONE.
void CheckSqlite(int result, sqlite3* connection);

// Binds a text parameter; SQLite keeps its own copy.
void BindText(sqlite3_stmt* statement, int index, const std::string& text);
void BindInt64(sqlite3_stmt* statement, int index, std::int64_t value);
void BindInt(sqlite3_stmt* statement, int index, std::int32_t value);

// A column as text; a NULL (possible in files other software wrote) reads as "".
std::string ColumnText(sqlite3_stmt* statement, int column);

}  // namespace vn

#include "apps/database/sqlite_handles.h"

#include <stdexcept>

namespace vn {
namespace {

[[noreturn]] void ThrowLastError(sqlite3* connection) {
  throw std::runtime_error(sqlite3_errmsg(connection));
}

}  // namespace

SqliteConnection OpenDatabase(const std::string& path) {
  sqlite3* raw = nullptr;
  const int result = sqlite3_open(path.c_str(), &raw);
  SqliteConnection connection(raw);
  if (result != SQLITE_OK) {
    const std::string message =
        connection ? sqlite3_errmsg(connection.get()) : "unknown sqlite open error";
    throw std::runtime_error("Failed to open SQLite database: " + message);
  }
  return connection;
}

SqliteConnection OpenExistingDatabase(const std::string& path) {
  sqlite3* raw = nullptr;
  const int result = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  SqliteConnection connection(raw);
  if (result != SQLITE_OK) connection.reset();
  return connection;
}

void Execute(sqlite3* connection, const char* sql) {
  char* rawMessage = nullptr;
  const int result = sqlite3_exec(connection, sql, nullptr, nullptr, &rawMessage);
  if (result == SQLITE_OK) return;
  std::string message = "unknown sqlite exec error";
  if (rawMessage != nullptr) {
    message = rawMessage;
    sqlite3_free(rawMessage);
  }
  throw std::runtime_error(message);
}

SqliteStatement Prepare(sqlite3* connection, const char* sql, unsigned flags) {
  sqlite3_stmt* raw = nullptr;
  const int result = sqlite3_prepare_v3(connection, sql, -1, flags, &raw, nullptr);
  SqliteStatement statement(raw);
  if (result != SQLITE_OK) ThrowLastError(connection);
  return statement;
}

void CheckSqlite(int result, sqlite3* connection) {
  if (result != SQLITE_OK && result != SQLITE_DONE) ThrowLastError(connection);
}

// Texts are bound and read with their lengths: a zero byte inside one must
// neither cut it short on the way in nor hide on the way out.
void BindText(sqlite3_stmt* statement, int index, const std::string& text) {
  CheckSqlite(sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_TRANSIENT,
                                  SQLITE_UTF8),
              sqlite3_db_handle(statement));
}

void BindInt64(sqlite3_stmt* statement, int index, std::int64_t value) {
  CheckSqlite(sqlite3_bind_int64(statement, index, value), sqlite3_db_handle(statement));
}

void BindInt(sqlite3_stmt* statement, int index, std::int32_t value) {
  CheckSqlite(sqlite3_bind_int(statement, index, value), sqlite3_db_handle(statement));
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  if (text == nullptr) return {};
  const int size = sqlite3_column_bytes(statement, column);
  return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size));
}

}  // namespace vn

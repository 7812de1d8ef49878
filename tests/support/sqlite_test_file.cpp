#include "tests/support/sqlite_test_file.h"

#include <stdexcept>

namespace vn::test {
namespace {

struct Finalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, Finalizer>;

Statement StepOnce(sqlite3* connection, const std::string& sql, bool& hasRow) {
  sqlite3_stmt* raw = nullptr;
  const int prepared = sqlite3_prepare_v2(connection, sql.c_str(), -1, &raw, nullptr);
  Statement statement(raw);
  if (prepared != SQLITE_OK) throw std::runtime_error(sqlite3_errmsg(connection));
  const int stepped = sqlite3_step(statement.get());
  if (stepped != SQLITE_ROW && stepped != SQLITE_DONE) {
    throw std::runtime_error(sqlite3_errmsg(connection));
  }
  hasRow = stepped == SQLITE_ROW;
  return statement;
}

}  // namespace

SqliteTestFile::SqliteTestFile(const std::filesystem::path& path) {
  sqlite3* raw = nullptr;
  const int result = sqlite3_open(path.c_str(), &raw);
  connection.reset(raw);
  if (result != SQLITE_OK) throw std::runtime_error("cannot open " + path.string());
}

void SqliteTestFile::Exec(const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(connection.get(), sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return;
  const std::string text = message != nullptr ? message : "exec failed";
  sqlite3_free(message);
  throw std::runtime_error(text);
}

std::string SqliteTestFile::Text(const std::string& sql) {
  bool hasRow = false;
  Statement statement = StepOnce(connection.get(), sql, hasRow);
  if (!hasRow) return "<none>";
  const unsigned char* text = sqlite3_column_text(statement.get(), 0);
  return text == nullptr ? "<null>" : reinterpret_cast<const char*>(text);
}

std::int64_t SqliteTestFile::Int(const std::string& sql) {
  bool hasRow = false;
  Statement statement = StepOnce(connection.get(), sql, hasRow);
  if (!hasRow) throw std::runtime_error("no row for " + sql);
  return sqlite3_column_int64(statement.get(), 0);
}

}  // namespace vn::test

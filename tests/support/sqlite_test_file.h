#pragma once

// Direct SQL access to a database file, for preparing files the way older or
// foreign software would have written them and for inspecting what the store
// wrote. One connection per object, closed when it dies; one thread only.

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace vn::test {

class SqliteTestFile {
 public:
  explicit SqliteTestFile(const std::filesystem::path& path);

  // Runs statements; throws std::runtime_error with SQLite's message.
  void Exec(const std::string& sql);

  // First column of the first row; "<null>" for NULL, "<none>" without rows.
  std::string Text(const std::string& sql);
  std::int64_t Int(const std::string& sql);

 private:
  struct Closer {
    void operator()(sqlite3* connection) const { sqlite3_close(connection); }
  };
  std::unique_ptr<sqlite3, Closer> connection;
};

}  // namespace vn::test

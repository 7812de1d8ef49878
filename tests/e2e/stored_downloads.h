#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace vn::test {

// Writes rows straight into the service's database, as an earlier run (or a
// crash) would have left them.
class StoredDownloads {
 public:
  explicit StoredDownloads(const std::filesystem::path& path) {
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("open");
  }
  ~StoredDownloads() { sqlite3_close(db); }

  void Exec(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      std::string text = message ? message : "?";
      sqlite3_free(message);
      throw std::runtime_error(text);
    }
  }

  void AddTask(const std::string& id, const std::string& status,
               const std::filesystem::path& folder, const std::string& fileName,
               std::int64_t downloaded, std::int64_t speed) {
    Exec(
        "INSERT INTO downloads (id, url, file_name, output_path, status, total_bytes, "
        "downloaded_bytes, speed_bytes_per_second, connection_count) VALUES ('" +
        id + "', 'http://127.0.0.1:9/" + fileName + "', '" + fileName + "', '" + folder.string() +
        "', '" + status + "', 3000, " + std::to_string(downloaded) + ", " + std::to_string(speed) +
        ", 2);");
    Exec("INSERT INTO download_segments VALUES ('" + id + "', 0, 0, 1499, 700);");
    Exec("INSERT INTO download_segments VALUES ('" + id + "', 1, 1500, 2999, 300);");
  }

 private:
  sqlite3* db = nullptr;
};

}  // namespace vn::test

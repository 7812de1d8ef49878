#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "tests/support/sqlite_test_file.h"

namespace vn::test {

// Writes rows straight into the service's database, as an earlier run (or a
// crash) would have left them.
class StoredDownloads {
 public:
  explicit StoredDownloads(const std::filesystem::path& path) : file(path) {}

  void Exec(const std::string& sql) { file.Exec(sql); }

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
  SqliteTestFile file;
};

}  // namespace vn::test

// How the store treats the file it finds: missing, empty, damaged, foreign,
// older or written by other software.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "apps/service/store/download_store.h"
#include "platform/set_aside.h"
#include "tests/support/sqlite_test_file.h"
#include "tests/support/test_environment.h"

namespace vn {
namespace {

using test::SqliteTestFile;

const std::string kSqliteHeader("SQLite format 3\0", 16);

DownloadTask MakeTask(const std::string& id) {
  DownloadTask task;
  task.id = id;
  task.url = "https://example.test/" + id;
  task.outputPath = "/tmp";
  task.fileName = id;
  task.segments = {{0, 9, 1}};
  return task;
}

void ExpectFreshUsableDatabase(const std::filesystem::path& path) {
  EXPECT_EQ(test::ReadFile(path).substr(0, 16), kSqliteHeader);
  {
    SqliteTestFile file(path);
    EXPECT_EQ(file.Int("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table'"
                       " AND name IN ('downloads', 'download_segments');"),
              2);
    EXPECT_EQ(file.Int("SELECT COUNT(*) FROM downloads;"), 0);
  }
  DownloadStore store(path.string());
  store.Save(MakeTask("dl_1"));
  ASSERT_EQ(store.LoadAll().size(), 1u);
  EXPECT_EQ(store.LoadAll()[0].segments.size(), 1u);
}

TEST(DownloadStoreFile, MissingFileAndFoldersAreCreated) {
  test::TempFolder folder;
  const auto path = folder.path() / "a" / "b" / "downloads.db";
  DownloadStore(path.string()).Initialize();
  ExpectFreshUsableDatabase(path);
}

// A fresh database replaces an unusable file, but the file itself is kept
// aside with its journal, byte for byte: it may hold a list worth recovering.
TEST(DownloadStoreFile, UnusableFilesAreSetAsideForAFreshDatabase) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"empty", ""},
      {"ten bytes", "0123456789"},
      {"foreign", std::string("PK\x03\x04") + test::MakeContent(96)},
      {"header nearly SQLite", std::string("SQLite format 4\0", 16) + test::MakeContent(84)},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    test::TempFolder folder;
    const auto path = folder.path() / "downloads.db";
    test::WriteFile(path, bytes);
    test::WriteFile(path.string() + "-wal", "journal");
    const auto aside = DownloadStore(path.string()).Initialize();
    ExpectFreshUsableDatabase(path);
    if (bytes.empty()) {
      EXPECT_TRUE(aside.empty()) << aside;
      continue;
    }
    ASSERT_FALSE(aside.empty());
    EXPECT_EQ(aside.parent_path(), path.parent_path());
    EXPECT_EQ(aside.filename().string().rfind("downloads.db.broken-", 0), 0u) << aside;
    EXPECT_EQ(test::ReadFile(aside), bytes);
    EXPECT_EQ(test::ReadFile(aside.string() + "-wal"), "journal");
    EXPECT_EQ(platform::FindSetAsideFiles(path), std::vector<std::filesystem::path>{aside});
  }
}

TEST(DownloadStoreFile, InitializingAgainKeepsStoredDownloads) {
  test::TempFolder folder;
  const auto path = folder.path() / "downloads.db";
  DownloadStore first(path.string());
  first.Initialize();
  first.Save(MakeTask("dl_1"));

  DownloadStore second(path.string());
  second.Initialize();

  ASSERT_EQ(second.LoadAll().size(), 1u);
  EXPECT_EQ(second.LoadAll()[0].id, "dl_1");
}

TEST(DownloadStoreFile, OlderTableGainsMissingColumnsAndKeepsItsRows) {
  test::TempFolder folder;
  const auto path = folder.path() / "downloads.db";
  {
    SqliteTestFile file(path);
    file.Exec(R"(
      CREATE TABLE downloads (
        id TEXT PRIMARY KEY, url TEXT NOT NULL, file_name TEXT NOT NULL,
        output_path TEXT NOT NULL, referrer TEXT NOT NULL DEFAULT '',
        user_agent TEXT NOT NULL DEFAULT '', etag TEXT NOT NULL DEFAULT '',
        status TEXT NOT NULL, total_bytes INTEGER NOT NULL DEFAULT 0,
        downloaded_bytes INTEGER NOT NULL DEFAULT 0,
        speed_bytes_per_second INTEGER NOT NULL DEFAULT 0,
        connection_count INTEGER NOT NULL DEFAULT 1,
        created_utc TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP,
        updated_utc TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP);
      INSERT INTO downloads (id, url, file_name, output_path, etag, status, total_bytes,
                             downloaded_bytes, connection_count)
        VALUES ('dl_1', 'https://a.test/1', 'one.bin', '/tmp', '"e1"', 'Paused', 100, 40, 4);
      INSERT INTO downloads (id, url, file_name, output_path, status)
        VALUES ('dl_2', 'https://a.test/2', 'two.bin', '/tmp', 'Completed');
    )");
  }
  DownloadStore store(path.string());
  store.Initialize();

  {
    SqliteTestFile file(path);
    for (const char* column : {"last_modified", "checksum_algorithm", "expected_checksum",
                               "actual_checksum", "failure_reason"}) {
      EXPECT_EQ(file.Text(std::string("SELECT dflt_value FROM pragma_table_info('downloads')"
                                      " WHERE name = '") +
                          column + "';"),
                "''")
          << column;
    }
  }
  std::vector<DownloadTask> loaded = store.LoadAll();
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(loaded[0].etag, "\"e1\"");
  EXPECT_EQ(loaded[0].status, DownloadStatus::Paused);
  EXPECT_EQ(loaded[0].downloadedBytes, 40);
  EXPECT_EQ(loaded[0].connectionCount, 4);
  EXPECT_EQ(loaded[0].failureReason, "");
  EXPECT_EQ(loaded[1].status, DownloadStatus::Completed);

  loaded[1].failureReason = "Disk full";
  store.Save(loaded[1]);
  EXPECT_EQ(store.LoadAll()[1].failureReason, "Disk full");
}

// Every column is NOT NULL in files this store writes; other software may not
// have been as strict, and such a row must still load.
TEST(DownloadStoreFile, NullTextColumnsLoadAsEmptyStrings) {
  test::TempFolder folder;
  const auto path = folder.path() / "downloads.db";
  {
    SqliteTestFile file(path);
    file.Exec(R"(
      CREATE TABLE downloads (
        id TEXT PRIMARY KEY, url TEXT, file_name TEXT, output_path TEXT, referrer TEXT,
        user_agent TEXT, etag TEXT, last_modified TEXT, checksum_algorithm TEXT,
        expected_checksum TEXT, actual_checksum TEXT, failure_reason TEXT, status TEXT,
        total_bytes INTEGER, downloaded_bytes INTEGER, speed_bytes_per_second INTEGER,
        connection_count INTEGER, created_utc TEXT, updated_utc TEXT);
      CREATE TABLE download_segments (
        download_id TEXT, segment_index INTEGER, start_offset INTEGER, end_offset INTEGER,
        downloaded_bytes INTEGER);
      INSERT INTO downloads (id, file_name, total_bytes) VALUES ('dl_1', 'kept.bin', 77);
      INSERT INTO download_segments VALUES ('dl_1', 0, 0, 76, NULL);
      INSERT INTO download_segments VALUES (NULL, 1, 0, 5, 0);
    )");
  }
  DownloadStore store(path.string());
  store.Initialize();

  const std::vector<DownloadTask> loaded = store.LoadAll();

  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0].id, "dl_1");
  EXPECT_EQ(loaded[0].fileName, "kept.bin");
  EXPECT_EQ(loaded[0].url, "");
  EXPECT_EQ(loaded[0].failureReason, "");
  EXPECT_EQ(loaded[0].status, DownloadStatus::Queued);
  EXPECT_EQ(loaded[0].totalBytes, 77);
  EXPECT_EQ(loaded[0].connectionCount, 0);
  ASSERT_EQ(loaded[0].segments.size(), 1u);
  EXPECT_EQ(loaded[0].segments[0].end, 76);
}

// A damaged table must fail the load rather than return part of the list as if
// it were all.
TEST(DownloadStoreFile, DamagedTablePageFailsTheLoad) {
  test::TempFolder folder;
  const auto path = folder.path() / "downloads.db";
  std::int64_t pageSize = 0;
  std::int64_t pageCount = 0;
  {
    // No index on downloads, and both tables made before any row: page 1 is
    // the schema, 2 and 3 the roots, and every later page holds downloads rows.
    SqliteTestFile file(path);
    file.Exec(R"(
      CREATE TABLE downloads (
        id TEXT, url TEXT, file_name TEXT, output_path TEXT, referrer TEXT, user_agent TEXT,
        etag TEXT, last_modified TEXT, checksum_algorithm TEXT, expected_checksum TEXT,
        actual_checksum TEXT, failure_reason TEXT, status TEXT, total_bytes INTEGER,
        downloaded_bytes INTEGER, speed_bytes_per_second INTEGER, connection_count INTEGER,
        signed_in INTEGER, created_utc TEXT, updated_utc TEXT);
      CREATE TABLE download_segments (
        download_id TEXT, segment_index INTEGER, start_offset INTEGER, end_offset INTEGER,
        downloaded_bytes INTEGER);
      WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400)
        INSERT INTO downloads (id, url, status, created_utc)
        SELECT 'dl_' || i, printf('%.200c', 'u'), 'Queued', 'x' FROM n;
    )");
    pageSize = file.Int("PRAGMA page_size;");
    pageCount = file.Int("PRAGMA page_count;");
  }
  ASSERT_GT(pageCount, 8);
  {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp((pageCount / 2) * pageSize);
    const std::string garbage(static_cast<std::size_t>(pageSize), '\xAB');
    file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
  }

  try {
    DownloadStore(path.string()).LoadAll();
    FAIL() << "the load should have failed";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "database disk image is malformed");
  }
}

TEST(CountStoredDownloads, CountsRowsOfTheDownloadsTable) {
  test::TempFolder folder;
  const auto path = folder.path() / "downloads.db";
  DownloadStore store(path.string());
  store.Initialize();
  EXPECT_EQ(CountStoredDownloads(path), 0);
  store.Save(MakeTask("dl_1"));
  store.Save(MakeTask("dl_2"));
  store.Save(MakeTask("dl_3"));
  EXPECT_EQ(CountStoredDownloads(path), 3);
}

TEST(CountStoredDownloads, UnreadableDatabasesCountMinusOne) {
  test::TempFolder folder;
  const auto missing = folder.path() / "missing.db";
  EXPECT_EQ(CountStoredDownloads(missing), -1);
  EXPECT_FALSE(std::filesystem::exists(missing));

  const auto foreign = folder.path() / "foreign.db";
  test::WriteFile(foreign, test::MakeContent(100));
  EXPECT_EQ(CountStoredDownloads(foreign), -1);
  EXPECT_EQ(test::ReadFile(foreign), test::MakeContent(100));

  const auto noTable = folder.path() / "other.db";
  SqliteTestFile(noTable).Exec("CREATE TABLE other (x INTEGER);");
  EXPECT_EQ(CountStoredDownloads(noTable), -1);
}

}  // namespace
}  // namespace vn

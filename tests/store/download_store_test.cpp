#include "apps/service/store/download_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/sqlite_test_file.h"
#include "tests/support/test_environment.h"

namespace vn {
namespace {

using test::SqliteTestFile;

DownloadTask MakeTask(const std::string& id, std::size_t segmentCount = 2) {
  DownloadTask task;
  task.id = id;
  task.url = "https://example.test/files/" + id + ".bin";
  task.outputPath = "/home/user/Downloads";
  task.fileName = id + ".bin";
  task.status = DownloadStatus::Paused;
  task.totalBytes = 1000;
  task.connectionCount = static_cast<std::int32_t>(segmentCount);
  for (std::size_t i = 0; i < segmentCount; ++i) {
    const auto start = static_cast<std::int64_t>(i) * 100;
    task.segments.push_back({start, start + 99, 10});
  }
  return task;
}

void ExpectSameStoredFields(const DownloadTask& expected, const DownloadTask& actual) {
  EXPECT_EQ(expected.id, actual.id);
  EXPECT_EQ(expected.url, actual.url);
  EXPECT_EQ(expected.outputPath, actual.outputPath);
  EXPECT_EQ(expected.fileName, actual.fileName);
  EXPECT_EQ(expected.referrer, actual.referrer);
  EXPECT_EQ(expected.userAgent, actual.userAgent);
  EXPECT_EQ(expected.etag, actual.etag);
  EXPECT_EQ(expected.lastModified, actual.lastModified);
  EXPECT_EQ(expected.checksumAlgorithm, actual.checksumAlgorithm);
  EXPECT_EQ(expected.expectedChecksum, actual.expectedChecksum);
  EXPECT_EQ(expected.actualChecksum, actual.actualChecksum);
  EXPECT_EQ(expected.failureReason, actual.failureReason);
  EXPECT_EQ(expected.status, actual.status);
  EXPECT_EQ(expected.totalBytes, actual.totalBytes);
  EXPECT_EQ(expected.downloadedBytes, actual.downloadedBytes);
  EXPECT_EQ(expected.speedBytesPerSecond, actual.speedBytesPerSecond);
  EXPECT_EQ(expected.connectionCount, actual.connectionCount);
  ASSERT_EQ(expected.segments.size(), actual.segments.size());
  for (std::size_t i = 0; i < expected.segments.size(); ++i) {
    EXPECT_EQ(expected.segments[i].start, actual.segments[i].start) << "segment " << i;
    EXPECT_EQ(expected.segments[i].end, actual.segments[i].end) << "segment " << i;
    EXPECT_EQ(expected.segments[i].downloadedBytes, actual.segments[i].downloadedBytes)
        << "segment " << i;
  }
}

// A store initialised in a fresh temporary folder.
class DownloadStoreTest : public ::testing::Test {
 protected:
  DownloadStoreTest() : path(folder.path() / "data" / "downloads.db"), store(path.string()) {
    store.Initialize();
  }

  test::TempFolder folder;
  std::filesystem::path path;
  DownloadStore store;
};

TEST_F(DownloadStoreTest, RoundTripKeepsEveryStoredField) {
  DownloadTask task;
  task.id = "dl_1700000000000";
  task.url = "https://example.test/a b/ü?x='1'&y=\"2\"";
  task.outputPath = "/srv/ダウンロード";
  task.fileName = "report 'final'.pdf";
  task.referrer = "https://example.test/page";
  task.userAgent = "Agent/1.0 (X11)";
  task.etag = "\"abc-123\"";
  task.lastModified = "Wed, 21 Oct 2015 07:28:00 GMT";
  task.checksumAlgorithm = "sha256";
  task.expectedChecksum = std::string(64, 'a');
  task.actualChecksum = std::string(64, 'b');
  task.failureReason = "Checksum mismatch";
  task.status = DownloadStatus::Failed;
  task.totalBytes = 8'000'000'000'123;
  task.downloadedBytes = 5'000'000'000'007;
  task.speedBytesPerSecond = 3'000'000'000;
  task.connectionCount = 32;
  // A split appends its new range, so the list is not in offset order.
  task.segments = {{0, 999, 999}, {4000, 8'000'000'000'122, 17}, {1000, 3999, 0}};
  // Not stored: these come back as defaults.
  task.maxSpeedBytesPerSecond = 4096;
  task.useSpeedLimiter = true;
  task.isTorrent = true;
  task.finalizeDone = 5;
  task.finalizeTotal = 9;

  store.Save(task);
  const std::vector<DownloadTask> loaded = DownloadStore(path.string()).LoadAll();

  ASSERT_EQ(loaded.size(), 1u);
  ExpectSameStoredFields(task, loaded[0]);
  EXPECT_EQ(loaded[0].maxSpeedBytesPerSecond, 0);
  EXPECT_FALSE(loaded[0].useSpeedLimiter);
  EXPECT_FALSE(loaded[0].isTorrent);
  EXPECT_EQ(loaded[0].finalizeDone, 0);
  EXPECT_EQ(loaded[0].finalizeTotal, 0);
}

TEST_F(DownloadStoreTest, LoadAllReturnsTasksInAscendingIdOrder) {
  store.Save(MakeTask("dl_300"));
  store.Save(MakeTask("dl_100"));
  store.Save(MakeTask("dl_200"));
  // Creation times opposite to the id order do not change the result order.
  SqliteTestFile file(path);
  file.Exec("UPDATE downloads SET created_utc = '2001-01-01 00:00:00' WHERE id = 'dl_300';");
  file.Exec("UPDATE downloads SET created_utc = '2002-01-01 00:00:00' WHERE id = 'dl_200';");
  file.Exec("UPDATE downloads SET created_utc = '2003-01-01 00:00:00' WHERE id = 'dl_100';");

  const std::vector<DownloadTask> loaded = store.LoadAll();

  ASSERT_EQ(loaded.size(), 3u);
  EXPECT_EQ(loaded[0].id, "dl_100");
  EXPECT_EQ(loaded[1].id, "dl_200");
  EXPECT_EQ(loaded[2].id, "dl_300");
}

TEST_F(DownloadStoreTest, SegmentIndexGapsCloseUpInIndexOrder) {
  store.Save(MakeTask("dl_1", 0));
  SqliteTestFile file(path);
  file.Exec(
      "INSERT INTO download_segments VALUES ('dl_1', 5, 500, 599, 5);"
      "INSERT INTO download_segments VALUES ('dl_1', 0, 0, 99, 0);"
      "INSERT INTO download_segments VALUES ('dl_1', 2, 200, 299, 2);");

  const std::vector<DownloadTask> loaded = store.LoadAll();

  ASSERT_EQ(loaded.size(), 1u);
  ASSERT_EQ(loaded[0].segments.size(), 3u);
  EXPECT_EQ(loaded[0].segments[0].start, 0);
  EXPECT_EQ(loaded[0].segments[1].start, 200);
  EXPECT_EQ(loaded[0].segments[2].start, 500);
  EXPECT_EQ(loaded[0].segments[2].downloadedBytes, 5);
}

TEST_F(DownloadStoreTest, SavingTwiceKeepsCreatedTimeAndRenewsUpdatedTime) {
  DownloadTask task = MakeTask("dl_1");
  store.Save(task);
  SqliteTestFile file(path);
  EXPECT_EQ(file.Int("SELECT COUNT(*) FROM downloads WHERE created_utc LIKE '2___-__-__ __:__:__'"
                     " AND updated_utc = created_utc;"),
            1);
  file.Exec(
      "UPDATE downloads SET created_utc = '2000-01-01 00:00:00',"
      " updated_utc = '2000-01-01 00:00:00';");

  task.status = DownloadStatus::Downloading;
  task.downloadedBytes = 500;
  store.Save(task);

  EXPECT_EQ(file.Text("SELECT created_utc FROM downloads WHERE id = 'dl_1';"),
            "2000-01-01 00:00:00");
  EXPECT_GT(file.Text("SELECT updated_utc FROM downloads WHERE id = 'dl_1';"),
            "2000-01-01 00:00:00");
  EXPECT_EQ(file.Int("SELECT COUNT(*) FROM downloads;"), 1);
  ASSERT_EQ(store.LoadAll().size(), 1u);
  EXPECT_EQ(store.LoadAll()[0].downloadedBytes, 500);
}

TEST_F(DownloadStoreTest, SavingFewerSegmentsLeavesOnlyTheNewRows) {
  DownloadTask task = MakeTask("dl_1", 4);
  store.Save(task);
  task.segments = {{0, 49, 49}, {50, 999, 3}};
  store.Save(task);

  SqliteTestFile file(path);
  EXPECT_EQ(file.Int("SELECT COUNT(*) FROM download_segments;"), 2);
  EXPECT_EQ(file.Int("SELECT MAX(segment_index) FROM download_segments;"), 1);
  ExpectSameStoredFields(task, store.LoadAll().at(0));
}

TEST_F(DownloadStoreTest, EveryStatusRoundTripsAsItsText) {
  const std::vector<std::string> names = {"Queued",    "Starting", "Downloading", "Paused",
                                          "Completed", "Failed",   "Verifying",   "Cancelled"};
  SqliteTestFile file(path);
  for (std::size_t value = 0; value < names.size(); ++value) {
    DownloadTask task = MakeTask("dl_" + std::to_string(value));
    task.status = static_cast<DownloadStatus>(value);
    store.Save(task);
    EXPECT_EQ(file.Text("SELECT status FROM downloads WHERE id = '" + task.id + "';"),
              names[value]);
  }
  const std::vector<DownloadTask> loaded = store.LoadAll();
  ASSERT_EQ(loaded.size(), names.size());
  for (std::size_t value = 0; value < names.size(); ++value) {
    EXPECT_EQ(loaded[value].status, static_cast<DownloadStatus>(value));
  }
}

TEST_F(DownloadStoreTest, OutOfRangeStatusIsStoredAsQueued) {
  DownloadTask high = MakeTask("dl_high");
  high.status = static_cast<DownloadStatus>(42);
  DownloadTask negative = MakeTask("dl_negative");
  negative.status = static_cast<DownloadStatus>(-1);
  store.Save(high);
  store.Save(negative);

  SqliteTestFile file(path);
  EXPECT_EQ(file.Int("SELECT COUNT(*) FROM downloads WHERE status = 'Queued';"), 2);
  for (const DownloadTask& task : store.LoadAll()) EXPECT_EQ(task.status, DownloadStatus::Queued);
}

TEST_F(DownloadStoreTest, StatusTextInAnotherLetterCaseLoadsAsQueued) {
  store.Save(MakeTask("dl_1"));
  store.Save(MakeTask("dl_2"));
  SqliteTestFile file(path);
  file.Exec("UPDATE downloads SET status = 'completed' WHERE id = 'dl_1';");
  file.Exec("UPDATE downloads SET status = 'Completed' WHERE id = 'dl_2';");

  const std::vector<DownloadTask> loaded = store.LoadAll();

  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(loaded[0].status, DownloadStatus::Queued);
  EXPECT_EQ(loaded[1].status, DownloadStatus::Completed);
}

TEST_F(DownloadStoreTest, DeleteRemovesTheTaskAndCascadesToItsSegments) {
  store.Save(MakeTask("dl_1", 3));
  store.Save(MakeTask("dl_2", 2));

  store.Delete("dl_1");
  store.Delete("dl_unknown");

  SqliteTestFile file(path);
  EXPECT_EQ(file.Int("SELECT COUNT(*) FROM download_segments WHERE download_id = 'dl_1';"), 0);
  EXPECT_EQ(file.Int("SELECT COUNT(*) FROM download_segments WHERE download_id = 'dl_2';"), 2);
  const std::vector<DownloadTask> loaded = store.LoadAll();
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0].id, "dl_2");
}

TEST_F(DownloadStoreTest, SegmentRowsOfUnknownTasksAreIgnored) {
  store.Save(MakeTask("dl_1", 1));
  SqliteTestFile file(path);  // foreign keys are off on this connection
  file.Exec("INSERT INTO download_segments VALUES ('dl_ghost', 0, 0, 99, 0);");

  const std::vector<DownloadTask> loaded = store.LoadAll();

  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0].segments.size(), 1u);
}

TEST_F(DownloadStoreTest, FailedSaveIsRolledBack) {
  const DownloadTask original = MakeTask("dl_1", 2);
  store.Save(original);
  SqliteTestFile file(path);
  file.Exec(
      "CREATE TRIGGER refuse_segments BEFORE INSERT ON download_segments"
      " BEGIN SELECT RAISE(ABORT, 'segment refused'); END;");

  DownloadTask changed = MakeTask("dl_1", 3);
  changed.url = "https://example.test/changed";
  changed.status = DownloadStatus::Completed;
  try {
    store.Save(changed);
    FAIL() << "the save should have failed";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "segment refused");
  }
  DownloadTask added = MakeTask("dl_2", 1);
  EXPECT_THROW(store.Save(added), std::runtime_error);

  std::vector<DownloadTask> loaded = store.LoadAll();
  ASSERT_EQ(loaded.size(), 1u);
  ExpectSameStoredFields(original, loaded[0]);

  // Nothing of the failed transaction lingers: the next save goes through.
  file.Exec("DROP TRIGGER refuse_segments;");
  store.Save(changed);
  ExpectSameStoredFields(changed, store.LoadAll().at(0));
}

TEST_F(DownloadStoreTest, SaveAllWritesEveryTaskOrNone) {
  const std::vector<DownloadTask> first = {MakeTask("dl_1", 1), MakeTask("dl_2", 3)};
  store.SaveAll(first);
  std::vector<DownloadTask> loaded = store.LoadAll();
  ASSERT_EQ(loaded.size(), 2u);
  ExpectSameStoredFields(first[0], loaded[0]);
  ExpectSameStoredFields(first[1], loaded[1]);

  SqliteTestFile file(path);
  file.Exec(
      "CREATE TRIGGER refuse_third BEFORE INSERT ON downloads WHEN NEW.id = 'dl_3'"
      " BEGIN SELECT RAISE(ABORT, 'third refused'); END;");
  std::vector<DownloadTask> second = {MakeTask("dl_1", 2), MakeTask("dl_3", 1)};
  second[0].status = DownloadStatus::Failed;
  EXPECT_THROW(store.SaveAll(second), std::runtime_error);
  loaded = store.LoadAll();
  ASSERT_EQ(loaded.size(), 2u);
  ExpectSameStoredFields(first[0], loaded[0]);  // the whole batch was rolled back
}

TEST(DownloadStore, SameStoredFieldsIgnoresOnlyWhatIsNotStored) {
  const DownloadTask base = MakeTask("dl_1", 2);
  DownloadTask unstored = base;
  unstored.finalizeDone = 5;
  unstored.finalizeTotal = 10;
  unstored.useSpeedLimiter = true;
  unstored.maxSpeedBytesPerSecond = 1000;
  unstored.isTorrent = true;
  EXPECT_TRUE(SameStoredFields(base, unstored));

  DownloadTask progressed = base;
  progressed.segments[1].downloadedBytes += 1;
  EXPECT_FALSE(SameStoredFields(base, progressed));
  DownloadTask faster = base;
  faster.speedBytesPerSecond = 1;
  EXPECT_FALSE(SameStoredFields(base, faster));
  DownloadTask renamed = base;
  renamed.etag = "\"v2\"";
  EXPECT_FALSE(SameStoredFields(base, renamed));
  DownloadTask split = base;
  split.segments.push_back({50, 99, 0});
  EXPECT_FALSE(SameStoredFields(base, split));
  // Statuses that are stored with the same text count as equal.
  DownloadTask outOfRange = base;
  outOfRange.status = static_cast<DownloadStatus>(42);
  DownloadTask queued = base;
  queued.status = DownloadStatus::Queued;
  EXPECT_TRUE(SameStoredFields(outOfRange, queued));
}

// SQLite ends the transaction itself here; the caller must still learn the
// trigger's reason, not that there was nothing left to roll back.
TEST_F(DownloadStoreTest, SaveRolledBackBySqliteReportsTheCause) {
  store.Save(MakeTask("dl_1", 2));
  SqliteTestFile file(path);
  file.Exec(
      "CREATE TRIGGER refuse_segments BEFORE INSERT ON download_segments"
      " BEGIN SELECT RAISE(ROLLBACK, 'segment refused'); END;");

  DownloadTask changed = MakeTask("dl_1", 1);
  changed.url = "https://example.test/changed";
  try {
    store.Save(changed);
    FAIL() << "the save should have failed";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "segment refused");
  }
  EXPECT_EQ(file.Text("SELECT url FROM downloads WHERE id = 'dl_1';"),
            "https://example.test/files/dl_1.bin");
  EXPECT_EQ(file.Int("SELECT COUNT(*) FROM download_segments;"), 2);
}

TEST_F(DownloadStoreTest, SaveWhileAnotherWriterHoldsTheFileReportsLocked) {
  store.Save(MakeTask("dl_1"));
  SqliteTestFile other(path);
  other.Exec("BEGIN IMMEDIATE TRANSACTION;");

  try {
    store.Save(MakeTask("dl_2"));
    FAIL() << "the save should have failed";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "database is locked");
  }
  other.Exec("ROLLBACK;");
  EXPECT_EQ(store.LoadAll().size(), 1u);
}

TEST_F(DownloadStoreTest, ConcurrentSavesFromSeveralThreadsAllLand) {
  std::vector<std::thread> threads;
  for (int thread = 0; thread < 4; ++thread) {
    threads.emplace_back([this, thread] {
      for (int i = 0; i < 5; ++i) {
        store.Save(MakeTask("dl_" + std::to_string(thread) + "_" + std::to_string(i)));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(store.LoadAll().size(), 20u);
}

TEST(DownloadStore, OpenFailureNamesSqlitesMessage) {
  test::TempFolder folder;
  test::WriteFile(folder.path() / "blocker", "not a folder");
  DownloadStore store((folder.path() / "blocker" / "downloads.db").string());

  try {
    store.LoadAll();
    FAIL() << "the load should have failed";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Failed to open SQLite database: unable to open database file");
  }
  EXPECT_THROW(store.Initialize(), std::filesystem::filesystem_error);
}

TEST(DownloadStore, QueryingAFileWithoutTablesNamesTheMissingTable) {
  test::TempFolder folder;
  DownloadStore store((folder.path() / "downloads.db").string());
  try {
    store.LoadAll();
    FAIL() << "the load should have failed";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "no such table: downloads");
  }
}

}  // namespace
}  // namespace vn

#include "apps/service/store/download_store.h"

#include <array>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <system_error>
#include <tuple>
#include <utility>

#include "apps/database/sqlite_handles.h"
#include "apps/database/store_schema.h"
#include "apps/service/store/statement_cache.h"
#include "platform/set_aside.h"

namespace vn {
namespace {

namespace schema = store_schema;

constexpr const char* kCannotSetAsideText = "Damaged download database could not be set aside: ";

// A missing or empty file becomes a fresh database; anything else must carry
// the SQLite header, or it is damaged or foreign and gets replaced.
bool IsUsableDatabaseFile(const std::filesystem::path& path) {
  if (!std::filesystem::exists(path)) return true;
  if (std::filesystem::file_size(path) == 0) return true;
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::array<char, 16> header{};
  file.read(header.data(), static_cast<std::streamsize>(header.size()));
  if (file.gcount() != static_cast<std::streamsize>(header.size())) return false;
  static constexpr char kSqliteHeader[16] = "SQLite format 3";  // ends in its zero byte
  return std::memcmp(header.data(), kSqliteHeader, header.size()) == 0;
}

bool HasColumn(sqlite3* connection, const char* table, const char* column) {
  const std::string query = std::string("PRAGMA table_info(") + table + ");";
  SqliteStatement statement = Prepare(connection, query.c_str());
  while (sqlite3_step(statement.get()) == SQLITE_ROW) {
    if (ColumnText(statement.get(), 1) == column) return true;
  }
  return false;
}

// Walks a query to its end. A step error is thrown rather than taken for the
// end of the rows: a partly read list would silently hide stored downloads.
template <typename RowHandler>
void ForEachRow(sqlite3* connection, sqlite3_stmt* statement, RowHandler handleRow) {
  for (;;) {
    const int result = sqlite3_step(statement);
    if (result == SQLITE_DONE) return;
    if (result != SQLITE_ROW) CheckSqlite(result, connection);
    handleRow();
  }
}

DownloadTask ReadTaskRow(sqlite3_stmt* row) {
  DownloadTask task;
  task.id = ColumnText(row, 0);
  task.url = ColumnText(row, 1);
  task.fileName = ColumnText(row, 2);
  task.outputPath = ColumnText(row, 3);
  task.referrer = ColumnText(row, 4);
  task.userAgent = ColumnText(row, 5);
  task.etag = ColumnText(row, 6);
  task.lastModified = ColumnText(row, 7);
  task.checksumAlgorithm = ColumnText(row, 8);
  task.expectedChecksum = ColumnText(row, 9);
  task.actualChecksum = ColumnText(row, 10);
  task.failureReason = ColumnText(row, 11);
  task.status = StatusFromText(ColumnText(row, 12));
  task.totalBytes = sqlite3_column_int64(row, 13);
  task.downloadedBytes = sqlite3_column_int64(row, 14);
  task.speedBytesPerSecond = sqlite3_column_int64(row, 15);
  task.connectionCount = sqlite3_column_int(row, 16);
  task.signedIn = sqlite3_column_int(row, 17) != 0;
  return task;
}

void BindTask(sqlite3_stmt* statement, const DownloadTask& task) {
  BindText(statement, 1, task.id);
  BindText(statement, 2, task.url);
  BindText(statement, 3, task.fileName);
  BindText(statement, 4, task.outputPath);
  BindText(statement, 5, task.referrer);
  BindText(statement, 6, task.userAgent);
  BindText(statement, 7, task.etag);
  BindText(statement, 8, task.lastModified);
  BindText(statement, 9, task.checksumAlgorithm);
  BindText(statement, 10, task.expectedChecksum);
  BindText(statement, 11, task.actualChecksum);
  BindText(statement, 12, task.failureReason);
  BindText(statement, 13, StatusText(task.status));
  BindInt64(statement, 14, task.totalBytes);
  BindInt64(statement, 15, task.downloadedBytes);
  BindInt64(statement, 16, task.speedBytesPerSecond);
  BindInt(statement, 17, task.connectionCount);
  BindInt(statement, 18, task.signedIn ? 1 : 0);
}

// Runs a kept statement that returns no rows.
void Run(sqlite3* connection, StatementCache& statements, const char* sql) {
  CheckSqlite(sqlite3_step(statements.Get(connection, sql)), connection);
}

// Writes the task row and all its segment rows; the caller holds the transaction.
void WriteTask(sqlite3* connection, StatementCache& statements, const DownloadTask& task) {
  sqlite3_stmt* upsert = statements.Get(connection, schema::kUpsertDownload);
  BindTask(upsert, task);
  CheckSqlite(sqlite3_step(upsert), connection);

  sqlite3_stmt* clear = statements.Get(connection, schema::kDeleteSegmentsOf);
  BindText(clear, 1, task.id);
  CheckSqlite(sqlite3_step(clear), connection);

  for (std::size_t index = 0; index < task.segments.size(); ++index) {
    const DownloadSegment& segment = task.segments[index];
    sqlite3_stmt* insert = statements.Get(connection, schema::kInsertSegment);
    BindText(insert, 1, task.id);
    BindInt(insert, 2, static_cast<std::int32_t>(index));
    BindInt64(insert, 3, segment.start);
    BindInt64(insert, 4, segment.end);
    BindInt64(insert, 5, segment.downloadedBytes);
    CheckSqlite(sqlite3_step(insert), connection);
  }
}

}  // namespace

DownloadStore::DownloadStore(std::string databasePath) : databasePath(std::move(databasePath)) {}

DownloadStore::~DownloadStore() {
  {
    std::lock_guard lock(mutex);
    stopping = true;
  }
  stopSignal.notify_all();
  if (flusher.joinable()) flusher.join();
  try {
    FlushProgress();
  } catch (const std::exception&) {
    // Progress only: the next run finds its part files and goes on from them.
  }
}

void DownloadStore::StartFlushing() {
  flusher = std::thread([this] { FlushLoop(); });
}

void DownloadStore::FlushLoop() {
  std::unique_lock lock(mutex);
  while (!stopSignal.wait_for(lock, kProgressFlushInterval, [this] { return stopping; })) {
    if (staged.empty()) continue;
    try {
      Commit({});
    } catch (const std::exception&) {
      // Progress only: the runs report it again.
    }
  }
}

void DownloadStore::SaveProgress(const DownloadTask& task) {
  std::lock_guard lock(mutex);
  staged.insert_or_assign(task.id, task);
}

void DownloadStore::FlushProgress() {
  std::lock_guard lock(mutex);
  if (!staged.empty()) Commit({});
}

std::filesystem::path DownloadStore::Initialize() {
  std::lock_guard lock(mutex);
  const std::filesystem::path path(databasePath);
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::filesystem::path setAside;
  if (!IsUsableDatabaseFile(path)) {
    CloseConnection();
    setAside = platform::SetAsideBrokenFile(path, std::chrono::system_clock::now(),
                                            {"-wal", "-shm", "-journal"});
    if (setAside.empty()) throw std::runtime_error(kCannotSetAsideText + path.string());
  }

  CloseConnection();
  sqlite3* db = Connection();
  Execute(db, schema::kCreateDownloads);
  Execute(db, schema::kCreateDownloadSegments);
  for (const schema::ColumnMigration& migration : schema::kMigrations) {
    if (!HasColumn(db, "downloads", migration.column)) {
      Execute(db, migration.statement);
    }
  }
  // A copy of the bare file (a backup, an older version reading it) then
  // finds the tables.
  Execute(db, schema::kCheckpointPragma);
  return setAside;
}

std::vector<DownloadTask> DownloadStore::LoadAll() {
  std::lock_guard lock(mutex);
  sqlite3* db = Connection();

  std::map<std::string, DownloadTask> tasks;
  {
    SqliteStatement rows = Prepare(db, schema::kSelectDownloads);
    ForEachRow(db, rows.get(), [&] {
      DownloadTask task = ReadTaskRow(rows.get());
      std::string id = task.id;
      tasks.insert_or_assign(std::move(id), std::move(task));
    });
  }
  {
    SqliteStatement rows = Prepare(db, schema::kSelectSegments);
    ForEachRow(db, rows.get(), [&] {
      if (sqlite3_column_type(rows.get(), 0) == SQLITE_NULL) return;
      const auto task = tasks.find(ColumnText(rows.get(), 0));
      if (task == tasks.end()) return;
      task->second.segments.push_back({sqlite3_column_int64(rows.get(), 2),
                                       sqlite3_column_int64(rows.get(), 3),
                                       sqlite3_column_int64(rows.get(), 4)});
    });
  }

  std::vector<DownloadTask> result;
  result.reserve(tasks.size());
  for (auto& entry : tasks) result.push_back(std::move(entry.second));
  return result;
}

void DownloadStore::Save(const DownloadTask& task) { SaveAll({task}); }

void DownloadStore::SaveAll(const std::vector<DownloadTask>& tasks) {
  std::lock_guard lock(mutex);
  Commit(tasks);
}

sqlite3* DownloadStore::Connection() {
  if (!connection) {
    SqliteConnection opened = OpenDatabase(databasePath);
    Execute(opened.get(), schema::kJournalModePragma);
    Execute(opened.get(), schema::kSynchronousPragma);
    Execute(opened.get(), schema::kForeignKeysPragma);
    connection = std::move(opened);
  }
  return connection.get();
}

void DownloadStore::CloseConnection() {
  statements.Clear();
  connection.reset();
}

void DownloadStore::Commit(const std::vector<DownloadTask>& tasks) {
  sqlite3* db = Connection();
  Run(db, statements, schema::kBeginTransaction);
  try {
    for (const auto& entry : staged) {
      bool superseded = false;
      for (const auto& task : tasks) superseded = superseded || task.id == entry.first;
      if (!superseded) WriteTask(db, statements, entry.second);
    }
    for (const auto& task : tasks) WriteTask(db, statements, task);
    Run(db, statements, schema::kCommitTransaction);
  } catch (...) {
    // Staged progress is dropped too, so one bad copy cannot fail every later
    // save; the runs report their progress again within a second.
    staged.clear();
    // No kept statement may stay in the middle of its step across the rollback.
    statements.Clear();
    // SQLite may already have rolled back on its own (a full disk, a trigger's
    // RAISE(ROLLBACK)); a second ROLLBACK would then fail and hide the real
    // cause. A connection left inside the transaction is closed, which
    // discards it; the next operation opens a fresh one.
    if (sqlite3_get_autocommit(db) == 0) {
      try {
        Execute(db, "ROLLBACK;");
      } catch (const std::exception&) {
      }
      if (sqlite3_get_autocommit(db) == 0) CloseConnection();
    }
    throw;
  }
  staged.clear();
}

bool SameStoredFields(const DownloadTask& a, const DownloadTask& b) {
  const auto stored = [](const DownloadTask& t) {
    return std::tie(t.id, t.url, t.outputPath, t.fileName, t.referrer, t.userAgent, t.etag,
                    t.lastModified, t.checksumAlgorithm, t.expectedChecksum, t.actualChecksum,
                    t.failureReason, t.totalBytes, t.downloadedBytes, t.speedBytesPerSecond,
                    t.connectionCount, t.signedIn);
  };
  if (stored(a) != stored(b) || StatusText(a.status) != StatusText(b.status)) return false;
  if (a.segments.size() != b.segments.size()) return false;
  for (std::size_t i = 0; i < a.segments.size(); ++i) {
    const auto& x = a.segments[i];
    const auto& y = b.segments[i];
    if (x.start != y.start || x.end != y.end || x.downloadedBytes != y.downloadedBytes) {
      return false;
    }
  }
  return true;
}

void DownloadStore::Delete(const std::string& id) {
  std::lock_guard lock(mutex);
  staged.erase(id);
  sqlite3* db = Connection();
  sqlite3_stmt* statement = statements.Get(db, schema::kDeleteDownload);
  BindText(statement, 1, id);
  CheckSqlite(sqlite3_step(statement), db);
}

}  // namespace vn

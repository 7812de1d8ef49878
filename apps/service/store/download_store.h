#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "apps/database/sqlite_handles.h"
#include "apps/database/stored_download_count.h"
#include "apps/service/store/statement_cache.h"
#include "apps/service/task/download_task.h"

namespace vn {

// Keeps every HTTP download and its segments in one SQLite file, through one
// connection that the first operation opens (with the pragmas) and the
// destructor closes. Every operation
// runs under `mutex`, so the store may be called from any thread. Failures are
// std::runtime_error with SQLite's message (or std::filesystem::filesystem_error).
//
// Progress may be staged (SaveProgress) instead of saved: staged tasks are
// written, the latest per id, with the next Save, SaveAll or FlushProgress,
// and by the destructor. StartFlushing flushes them at least every
// kProgressFlushInterval on a thread of the store's own.
class DownloadStore {
 public:
  static constexpr auto kProgressFlushInterval = std::chrono::seconds(1);

  explicit DownloadStore(std::string databasePath);
  // Stops the flushing thread and writes what is staged (errors are dropped).
  ~DownloadStore();
  DownloadStore(const DownloadStore&) = delete;
  DownloadStore& operator=(const DownloadStore&) = delete;

  // Checks the file, opens the connection anew, creates the tables and adds
  // missing columns. A file without SQLite's header (damaged or foreign) is
  // first set aside as "<name>.broken-<UTC time>" with its journal files, and
  // a new database starts; the set-aside path is returned (empty when the
  // file was sound). A file that cannot be set aside fails the call.
  std::filesystem::path Initialize();

  // Starts the thread that flushes staged progress; called once, after Initialize.
  void StartFlushing();

  // Every stored task with its segments, in ascending byte order of ids.
  std::vector<DownloadTask> LoadAll();

  // Inserts or updates the task by id and replaces its segment rows, in one
  // transaction with whatever is staged; committed before it returns, rolled
  // back on failure (the staged tasks are then dropped).
  void Save(const DownloadTask& task);

  // Stages the task to be saved later; replaces an earlier staged copy.
  void SaveProgress(const DownloadTask& task);

  // Writes every staged task in one transaction. A failure drops them.
  void FlushProgress();

  // Saves every task as Save does, all in one durable transaction: one sync
  // instead of one per task (start-up with a long list).
  void SaveAll(const std::vector<DownloadTask>& tasks);

  // Removes the task and (by cascade) its segments, and its staged copy;
  // unknown ids are no error.
  void Delete(const std::string& id);

 private:
  // The open connection; opens it first when needed. Caller holds mutex.
  sqlite3* Connection();
  // Finalizes the kept statements, then closes the connection. Caller holds mutex.
  void CloseConnection();
  // Writes tasks and the staged copies in one transaction. Caller holds mutex.
  void Commit(const std::vector<DownloadTask>& tasks);
  void FlushLoop();

  std::string databasePath;
  std::mutex mutex;
  SqliteConnection connection;                         // guarded by mutex
  StatementCache statements;  // of connection, destroyed before it; guarded by mutex
  std::unordered_map<std::string, DownloadTask> staged;  // guarded by mutex
  bool stopping = false;                               // guarded by mutex
  std::condition_variable stopSignal;
  std::thread flusher;
};

// True when saving b over a would change nothing the store keeps: every
// persisted field and the segments are equal (progress of the finishing phase,
// the limiter and the torrent flag are not stored).
bool SameStoredFields(const DownloadTask& a, const DownloadTask& b);


}  // namespace vn

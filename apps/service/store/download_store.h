#pragma once

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "apps/service/task/download_task.h"

namespace vn {

// Keeps every HTTP download and its segments in one SQLite file. Every
// operation opens its own connection and closes it before returning, under
// `mutex`, so the store may be called from any thread. Failures are
// std::runtime_error with SQLite's message (or std::filesystem::filesystem_error).
class DownloadStore {
 public:
  explicit DownloadStore(std::string databasePath);

  // Checks the file (a damaged or foreign file is replaced), applies the
  // pragmas, creates the tables and adds missing columns.
  void Initialize();

  // Every stored task with its segments, in ascending byte order of ids.
  std::vector<DownloadTask> LoadAll();

  // Inserts or updates the task by id and replaces its segment rows, in one
  // durable transaction; rolled back on failure.
  void Save(const DownloadTask& task);

  // Saves every task as Save does, all in one durable transaction: one sync
  // instead of one per task (start-up with a long list).
  void SaveAll(const std::vector<DownloadTask>& tasks);

  // Removes the task and (by cascade) its segments; unknown ids are no error.
  void Delete(const std::string& id);

 private:
  std::string databasePath;
  std::mutex mutex;
};

// True when saving b over a would change nothing the store keeps: every
// persisted field and the segments are equal (progress of the finishing phase,
// the limiter and the torrent flag are not stored).
bool SameStoredFields(const DownloadTask& a, const DownloadTask& b);

// Rows of the `downloads` table of the database at path, or -1 when it cannot
// be opened or counted. Never creates a file.
int CountStoredDownloads(const std::filesystem::path& path);

}  // namespace vn

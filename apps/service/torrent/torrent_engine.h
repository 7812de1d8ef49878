#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "apps/service/engine/download_task.h"

namespace vn {

// True when id begins with "tor_" (case-sensitive).
bool IsTorrentId(const std::string& id);

// Runs torrents in one libtorrent session and reports them as DownloadTask
// snapshots. Every operation takes `mutex` for its whole duration; never call
// it while holding the service mutex. See torrent_engine.cpp for the details.
class TorrentEngine {
 public:
  TorrentEngine();
  ~TorrentEngine();  // saves the registry and closes the session

  TorrentEngine(const TorrentEngine&) = delete;
  TorrentEngine& operator=(const TorrentEngine&) = delete;

  // Builds the session and re-adds every torrent of folder/index.json.
  // Throws when the session cannot be built.
  void Start(const std::filesystem::path& folder);

  // Return the new "tor_" id, or an empty id with error set.
  std::string AddFromMagnet(const std::string& magnet, const std::string& savePath,
                            std::string& error);
  std::string AddFromTorrentFile(const std::string& path, const std::string& savePath,
                                 std::string& error);

  bool Pause(const std::string& id);
  bool Resume(const std::string& id);
  bool Remove(const std::string& id, bool deleteFiles);
  std::vector<DownloadTask> Snapshot();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};

}  // namespace vn

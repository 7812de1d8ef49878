#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "apps/protocol/download_ids.h"
#include "apps/service/task/download_task.h"

namespace vn {

// Runs torrents in one libtorrent session and reports them as DownloadTask
// snapshots. The list of torrents survives restarts in <folder>/index.json, and
// each torrent's progress in libtorrent's resume data beside it (saved at pause,
// every 30 s while it changes, when it finishes and at stop).
//
// Threads: Start and the destructor run on the service's main thread, the other
// operations on the request thread; one thread of the engine's own, from Start
// to the destructor, writes the resume data that libtorrent hands over. Every
// operation takes the engine's mutex for its whole duration, libtorrent calls
// and file writes included; never call it while holding the service mutex.
// libtorrent's threads never call back.
class TorrentEngine {
 public:
  // Test seam; production uses the defaults.
  struct Options {
    // libtorrent listen_interfaces, e.g. "127.0.0.1:0"; empty keeps the
    // library's default.
    std::string listenInterfaces;
  };

  TorrentEngine();
  explicit TorrentEngine(Options options);
  // Saves the resume data (waiting at most 5 s for libtorrent) and the registry,
  // then closes the session.
  ~TorrentEngine();

  TorrentEngine(const TorrentEngine&) = delete;
  TorrentEngine& operator=(const TorrentEngine&) = delete;

  // Builds the session and re-adds every torrent of folder/index.json, with its
  // resume data when a usable one was saved. A file that is missing or malformed
  // loads what it can and never throws; one that could not be read in full is
  // renamed to "index.json.broken-<UTC time>" first (said on standard error), and
  // the readable torrents are written to a new index.json. Does nothing when
  // already running. Throws the library's exception when the session cannot be
  // built.
  void Start(const std::filesystem::path& folder);

  // Return the new kTorrentIdPrefix id, or an empty id with error set to
  // "Torrent engine is not running", "Invalid magnet link: ...",
  // "Could not read .torrent file: ..." ("... not a regular file" for a folder,
  // device or pipe) or "Could not add torrent: ...".
  std::string AddFromMagnet(const std::string& magnet, const std::string& savePath,
                            std::string& error);
  std::string AddFromTorrentFile(const std::string& path, const std::string& savePath,
                                 std::string& error);

  // False for an unknown id. Both write index.json at once, so the client's
  // choice survives a crash; Pause also saves the torrent's resume data.
  bool Pause(const std::string& id);
  bool Resume(const std::string& id);
  // deleteFiles asks libtorrent to delete the downloaded files (asynchronously).
  bool Remove(const std::string& id, bool deleteFiles);

  // Sets the session's download rate limit in bytes per second; 0 lifts it,
  // and a figure beyond libtorrent's range is taken as its largest. False with
  // error "Torrent engine is not running" when there is no session. The limit
  // lasts as long as the session.
  bool SetDownloadRateLimit(std::int64_t bytesPerSecond, std::string& error);

  // One task per torrent (isTorrent true, no segments), in no particular order.
  std::vector<DownloadTask> Snapshot();

  // The port the session accepts peers on; 0 when not running.
  int ListenPort();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};

}  // namespace vn

#pragma once

#include <libtorrent/torrent_handle.hpp>
#include <memory>
#include <string>

namespace vn {

// One torrent the engine knows. Owned by the engine's registry and guarded by
// the engine's mutex; the handle is the session's, copied from add_torrent.
struct TorrentEntry {
  std::string id;
  std::string savePath;
  std::string source;  // magnet URI or .torrent path, exactly as the client gave it
  bool isFile = false;
  bool paused = false;  // a client paused it; survives restarts through index.json
  std::shared_ptr<libtorrent::torrent_handle> handle;
};

}  // namespace vn

#pragma once

#include <libtorrent/torrent_status.hpp>

#include "apps/service/engine/download_task.h"
#include "apps/service/torrent/torrent_entry.h"

namespace vn {

// Listed names while libtorrent cannot give one.
inline constexpr const char* kResolvingMetadataName = "(resolving metadata)";
inline constexpr const char* kUnknownTorrentName = "(torrent)";

// The status a client sees: a client's pause wins over whatever libtorrent
// reports, then libtorrent's own pause, then its state.
DownloadStatus StatusOfTorrent(bool pausedByClient, const libtorrent::torrent_status& status);

// A DownloadTask for entry with libtorrent's current progress. Asks libtorrent
// synchronously; call with the engine's mutex held.
DownloadTask SnapshotOfTorrent(const TorrentEntry& entry);

}  // namespace vn

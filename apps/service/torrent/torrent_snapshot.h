#pragma once

#include <libtorrent/torrent_status.hpp>

#include "apps/service/task/download_task.h"
#include "apps/service/torrent/torrent_entry.h"

namespace vn {

// Listed names while libtorrent cannot give one.
inline constexpr const char* kResolvingMetadataName = "(resolving metadata)";
inline constexpr const char* kUnknownTorrentName = "(torrent)";

// The status a client sees. Paused only when a client paused it; then
// Completed once the wanted files are complete (seeding, finished, or held by
// libtorrent's queue); then Queued while libtorrent's queue holds it or has not
// started it; then libtorrent's state.
DownloadStatus StatusOfTorrent(bool pausedByClient, const libtorrent::torrent_status& status);

// A DownloadTask for entry with libtorrent's current progress; the rate is the
// download rate, 0 unless Starting or Downloading. Asks libtorrent
// synchronously; call with the engine's mutex held.
DownloadTask SnapshotOfTorrent(const TorrentEntry& entry);

}  // namespace vn

#include "apps/service/torrent/torrent_snapshot.h"

#include <cstdint>
#include <exception>

namespace vn {

namespace lt = libtorrent;

DownloadStatus StatusOfTorrent(bool pausedByClient, const lt::torrent_status& status) {
  if (pausedByClient) return DownloadStatus::Paused;
  const bool complete = status.is_finished || status.state == lt::torrent_status::finished ||
                        status.state == lt::torrent_status::seeding;
  if (complete) return DownloadStatus::Completed;
  // libtorrent's paused flag without a client's pause is its own queue holding
  // the torrent back (or not having started it yet): never the user's pause.
  if (status.flags & lt::torrent_flags::paused) return DownloadStatus::Queued;
  switch (status.state) {
    case lt::torrent_status::checking_files:
    case lt::torrent_status::checking_resume_data:
      return DownloadStatus::Verifying;
    case lt::torrent_status::downloading_metadata:
      return DownloadStatus::Starting;
    default:
      return DownloadStatus::Downloading;
  }
}

DownloadTask SnapshotOfTorrent(const TorrentEntry& entry) {
  DownloadTask task;
  task.id = entry.id;
  task.url = entry.source;
  task.outputPath = entry.savePath;
  task.isTorrent = true;
  task.connectionCount = 0;
  task.fileName = kUnknownTorrentName;
  task.status = DownloadStatus::Starting;
  if (!entry.handle || !entry.handle->is_valid()) return task;

  lt::torrent_status status;
  try {
    status = entry.handle->status(lt::status_flags_t::all());
  } catch (const std::exception&) {
    // The torrent left the session between the check and the query: list it as
    // one without a handle rather than failing the whole listing.
    return task;
  }
  task.fileName = status.name.empty() ? kResolvingMetadataName : status.name;
  task.totalBytes = status.total_wanted;
  task.downloadedBytes = status.total_wanted_done;
  task.connectionCount = status.num_peers;
  task.status = StatusOfTorrent(entry.paused, status);
  // The download rate only: libtorrent's rates decay slowly after a pause, and a
  // seeding torrent's traffic is upload.
  const bool transferring =
      task.status == DownloadStatus::Downloading || task.status == DownloadStatus::Starting;
  task.speedBytesPerSecond =
      transferring ? static_cast<std::int64_t>(status.download_payload_rate) : 0;
  return task;
}

}  // namespace vn

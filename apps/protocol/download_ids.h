#pragma once

// Download ids: the prefix says which engine owns the download, so clients and
// the service route a command by the id alone.

#include <string>

namespace vn {

// HTTP downloads: the prefix, then milliseconds since 1970.
inline constexpr const char* kDownloadIdPrefix = "dl_";

// Torrents: the prefix, milliseconds since 1970, "_" and a per-process counter.
inline constexpr const char* kTorrentIdPrefix = "tor_";

// True when id begins with kTorrentIdPrefix (case-sensitive).
bool IsTorrentId(const std::string& id);

}  // namespace vn

#pragma once

// libtorrent's resume data for one torrent, kept in the torrents folder beside
// index.json as "<info hash in hex>.resume", so a torrent added again at start-up
// shows its progress at once and its files are not checked again. The name comes
// from the torrent's own info hash, never from a client's or a file's text.
// Every function runs with the engine's mutex held.

#include <filesystem>
#include <libtorrent/add_torrent_params.hpp>
#include <libtorrent/info_hash.hpp>
#include <optional>

namespace vn {

// The info hashes a torrent will have once params are added: the magnet's, or
// those of the .torrent file's info.
libtorrent::info_hash_t InfoHashesOf(const libtorrent::add_torrent_params& params);

std::filesystem::path ResumeFilePath(const std::filesystem::path& folder,
                                     const libtorrent::info_hash_t& hashes);

// Replaces the torrent's resume file through a temporary file and a rename, so a
// crash leaves the old data or the new. False when nothing was written.
bool WriteResumeFile(const std::filesystem::path& folder,
                     const libtorrent::add_torrent_params& resumeData);

// The saved resume data of the torrent with these hashes; nullopt when the file
// is missing, unreadable, too large, or holds another torrent's data.
std::optional<libtorrent::add_torrent_params> ReadResumeFile(
    const std::filesystem::path& folder, const libtorrent::info_hash_t& hashes);

// Errors are ignored: a stale file is only read for the same torrent again.
void RemoveResumeFile(const std::filesystem::path& folder, const libtorrent::info_hash_t& hashes);

// fromSource with the progress of resumed: the pieces and metadata of the resume
// data, the peers of both, the source's trackers when the resume data has none; flags are those of a fresh add, so the
// registry's paused flag alone decides whether it runs.
libtorrent::add_torrent_params WithResumeData(libtorrent::add_torrent_params fromSource,
                                              libtorrent::add_torrent_params resumed);

}  // namespace vn

#pragma once

#include <filesystem>
#include <libtorrent/session.hpp>
#include <libtorrent/torrent_handle.hpp>
#include <memory>
#include <string>

namespace vn::test {

// Writes content as folder/name and a .torrent for it beside it (16 KiB pieces).
// Returns the .torrent's path.
std::filesystem::path MakeTorrentFile(const std::filesystem::path& folder, const std::string& name,
                                      const std::string& content);

// A second libtorrent session that seeds one file on 127.0.0.1 only (no DHT, LSD,
// UPnP or NAT-PMP). The constructor returns once the seeder has checked its file
// and is seeding, or throws after a bounded wait.
class LoopbackSeeder {
 public:
  LoopbackSeeder(const std::filesystem::path& folder, const std::string& name,
                 const std::string& content);
  ~LoopbackSeeder();
  LoopbackSeeder(const LoopbackSeeder&) = delete;
  LoopbackSeeder& operator=(const LoopbackSeeder&) = delete;

  int Port() const;
  const std::filesystem::path& TorrentFile() const { return torrentFile; }
  // A magnet link that names the seeder as a peer (x.pe).
  std::string Magnet() const;
  // Makes the seeder dial a downloader listening on 127.0.0.1:port.
  void ConnectTo(int port);

 private:
  std::filesystem::path torrentFile;
  std::unique_ptr<libtorrent::session> session;
  libtorrent::torrent_handle handle;
};

}  // namespace vn::test

#include "tests/torrent/loopback_seeder.h"

#include <chrono>
#include <iterator>
#include <libtorrent/add_torrent_params.hpp>
#include <libtorrent/address.hpp>
#include <libtorrent/bencode.hpp>
#include <libtorrent/create_torrent.hpp>
#include <libtorrent/magnet_uri.hpp>
#include <libtorrent/session_params.hpp>
#include <libtorrent/settings_pack.hpp>
#include <libtorrent/torrent_flags.hpp>
#include <libtorrent/torrent_info.hpp>
#include <libtorrent/torrent_status.hpp>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/support/test_environment.h"

namespace vn::test {

namespace lt = libtorrent;

namespace {

constexpr int kPieceBytes = 16 * 1024;
constexpr auto kSeedingDeadline = std::chrono::seconds(30);

}  // namespace

std::filesystem::path MakeTorrentFile(const std::filesystem::path& folder, const std::string& name,
                                      const std::string& content) {
  const std::filesystem::path file = folder / name;
  WriteFile(file, content);
  lt::file_storage storage;
  lt::add_files(storage, file.string());
  lt::create_torrent creator(storage, kPieceBytes);
  lt::set_piece_hashes(creator, folder.string());
  std::string encoded;
  lt::bencode(std::back_inserter(encoded), creator.generate());
  std::filesystem::path torrentFile = file;
  torrentFile += ".torrent";
  WriteFile(torrentFile, encoded);
  return torrentFile;
}

LoopbackSeeder::LoopbackSeeder(const std::filesystem::path& folder, const std::string& name,
                               const std::string& content)
    : torrentFile(MakeTorrentFile(folder, name, content)) {
  lt::settings_pack pack;
  pack.set_int(lt::settings_pack::alert_mask, 0);
  pack.set_str(lt::settings_pack::listen_interfaces, "127.0.0.1:0");
  pack.set_bool(lt::settings_pack::enable_dht, false);
  pack.set_bool(lt::settings_pack::enable_lsd, false);
  pack.set_bool(lt::settings_pack::enable_upnp, false);
  pack.set_bool(lt::settings_pack::enable_natpmp, false);
  pack.set_bool(lt::settings_pack::allow_multiple_connections_per_ip, true);
  session = std::make_unique<lt::session>(lt::session_params(std::move(pack)));

  lt::add_torrent_params params;
  params.ti = std::make_shared<lt::torrent_info>(torrentFile.string());
  params.save_path = folder.string();
  params.flags &= ~(lt::torrent_flags::paused | lt::torrent_flags::auto_managed);
  handle = session->add_torrent(std::move(params));

  const auto deadline = std::chrono::steady_clock::now() + kSeedingDeadline;
  while (handle.status().state != lt::torrent_status::seeding) {
    if (std::chrono::steady_clock::now() > deadline) {
      throw std::runtime_error("Seeder did not start seeding");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

LoopbackSeeder::~LoopbackSeeder() = default;

int LoopbackSeeder::Port() const { return session->listen_port(); }

std::string LoopbackSeeder::Magnet() const {
  return lt::make_magnet_uri(handle) + "&x.pe=127.0.0.1:" + std::to_string(Port());
}

void LoopbackSeeder::ConnectTo(int port) {
  handle.connect_peer(
      lt::tcp::endpoint(lt::make_address("127.0.0.1"), static_cast<unsigned short>(port)));
}

}  // namespace vn::test

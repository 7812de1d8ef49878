#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "apps/service/torrent/torrent_engine.h"
#include "tests/support/wait_until.h"

namespace vn::test {

inline constexpr auto kTorrentDeadline = std::chrono::seconds(30);

// An engine whose session listens on loopback only, on a port of the system's
// choosing, so test binaries never clash.
std::unique_ptr<TorrentEngine> MakeLoopbackEngine();

// The engine's snapshot of id, if listed.
std::optional<DownloadTask> FindTorrent(TorrentEngine& engine, const std::string& id);

// A magnet link for a torrent nobody has: its metadata never arrives.
std::string UnreachableMagnet(char hexDigit = 'a');

}  // namespace vn::test

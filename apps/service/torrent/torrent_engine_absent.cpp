// The torrent engine of a build without libtorrent: it never runs, so every
// torrent command is answered as by an engine whose session did not start.
#include "apps/protocol/error_texts.h"
#include "apps/service/torrent/torrent_engine.h"

namespace vn {

struct TorrentEngine::Impl {};

TorrentEngine::TorrentEngine() = default;
TorrentEngine::TorrentEngine(Options) {}
TorrentEngine::~TorrentEngine() = default;

void TorrentEngine::Start(const std::filesystem::path&) {}

std::string TorrentEngine::AddFromMagnet(const std::string&, const std::string&,
                                         std::string& error) {
  error = error_text::kTorrentEngineNotRunning;
  return {};
}

std::string TorrentEngine::AddFromTorrentFile(const std::string&, const std::string&,
                                              std::string& error) {
  error = error_text::kTorrentEngineNotRunning;
  return {};
}

bool TorrentEngine::Pause(const std::string&) { return false; }
bool TorrentEngine::Resume(const std::string&) { return false; }
bool TorrentEngine::Remove(const std::string&, bool) { return false; }
std::vector<DownloadTask> TorrentEngine::Snapshot() { return {}; }
int TorrentEngine::ListenPort() { return 0; }

bool TorrentEngine::SetDownloadRateLimit(std::int64_t, std::string& error) {
  error = error_text::kTorrentEngineNotRunning;
  return false;
}

}  // namespace vn

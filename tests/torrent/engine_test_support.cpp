#include "tests/torrent/engine_test_support.h"

namespace vn::test {

std::unique_ptr<TorrentEngine> MakeLoopbackEngine() {
  TorrentEngine::Options options;
  options.listenInterfaces = "127.0.0.1:0";
  return std::make_unique<TorrentEngine>(options);
}

std::optional<DownloadTask> FindTorrent(TorrentEngine& engine, const std::string& id) {
  for (DownloadTask& task : engine.Snapshot()) {
    if (task.id == id) return task;
  }
  return std::nullopt;
}

std::string UnreachableMagnet(char hexDigit) {
  return "magnet:?xt=urn:btih:" + std::string(40, hexDigit);
}

}  // namespace vn::test

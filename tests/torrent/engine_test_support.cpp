#include "tests/torrent/engine_test_support.h"

#include <thread>

namespace vn::test {

std::unique_ptr<TorrentEngine> MakeLoopbackEngine() {
  TorrentEngine::Options options;
  options.listenInterfaces = "127.0.0.1:0";
  return std::make_unique<TorrentEngine>(options);
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
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

#include "tests/e2e/download_fixture.h"

namespace vn::test {
namespace {

// A service built without libtorrent: torrent commands get the answers of an
// engine that is not running, and downloads over HTTP are untouched.
TEST_F(DownloadTest, TorrentCommandsAnswerThatTheEngineIsNotRunning) {
  WriteFile(downloads.path() / "x.torrent", "d4:infod4:name1:xee");
  const std::pair<nlohmann::json, std::string> cases[] = {
      {{{"type", "enqueue_torrent"}, {"magnet", "magnet:?xt=urn:btih:" + std::string(40, 'a')}},
       R"({"error":"Torrent engine is not running","ok":false})"},
      {{{"type", "enqueue_torrent"}, {"torrentFilePath", (downloads.path() / "x.torrent").string()}},
       R"({"error":"Torrent engine is not running","ok":false})"},
      {{{"type", "pause_download"}, {"id", "tor_1"}}, R"({"ok":false})"},
      {{{"type", "delete_download"}, {"id", "tor_1"}}, R"({"ok":false})"},
  };
  for (const auto& [request, answer] : cases) {
    EXPECT_EQ(service->Request(request.dump()), answer) << request;
  }
  EXPECT_EQ(List(*service), nlohmann::json::array());
}

}  // namespace
}  // namespace vn::test

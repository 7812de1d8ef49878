#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/e2e/download_fixture.h"
#include "tests/torrent/loopback_seeder.h"

namespace vn::test {
namespace {

namespace fs = std::filesystem;

// A free TCP port on loopback for the service's torrent session.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

class TorrentCommands : public DownloadTest {
 protected:
  void SetUp() override {
    torrentPort = FreePort();
    service = StartService(Environment());
  }

  ServiceProcess::Environment Environment() const {
    return {{"VARNEL_TORRENT_LISTEN_INTERFACES", "127.0.0.1:" + std::to_string(torrentPort)}};
  }

  void RestartWithSameEnvironment() {
    EXPECT_EQ(service->Stop(), 0) << service->Errors();
    service = StartService(Environment());
  }

  std::string EnqueueTorrent(nlohmann::json request) {
    request["type"] = "enqueue_torrent";
    request["outputPath"] = downloads.path().string();
    const auto answer = Send(request);
    EXPECT_EQ(answer["ok"], true) << answer;
    const std::string id = answer.value("id", "");
    EXPECT_EQ(id.rfind("tor_", 0), 0u) << id;
    return id;
  }

  nlohmann::json Registry() {
    return nlohmann::json::parse(ReadFile(DataRoot() / "torrents" / "index.json"));
  }

  TempFolder seeds;
  int torrentPort = 0;
};

TEST_F(TorrentCommands, MagnetDownloadsThroughTheServiceAndSurvivesARestart) {
  const auto content = MakeContent(300 * 1024, 7);
  LoopbackSeeder seeder(seeds.path(), "magnet.bin", content);
  ResourceOptions httpResource;
  httpResource.body = "http task";
  server.SetResource("/h.bin", httpResource);
  const auto http = Enqueue({{"url", server.Url("/h.bin")}});
  const auto id = EnqueueTorrent({{"magnet", seeder.Magnet()}});

  const auto done = WaitForStatus(id, "Completed", std::chrono::seconds(60));
  EXPECT_EQ(done["isTorrent"], true);
  EXPECT_EQ(done["fileName"], "magnet.bin");
  EXPECT_EQ(done["totalBytes"], 300 * 1024);
  EXPECT_EQ(done["segments"], nlohmann::json::array());
  EXPECT_EQ(ReadFile(downloads.path() / "magnet.bin"), content);
  const auto listed = List(*service);
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0]["id"], http);  // HTTP downloads first, then torrents
  EXPECT_EQ(listed[1]["id"], id);

  RestartWithSameEnvironment();
  const auto registry = Registry();
  ASSERT_EQ(registry.size(), 1u);
  EXPECT_EQ(registry[0]["id"], id);
  EXPECT_EQ(registry[0]["source"], seeder.Magnet());
  EXPECT_EQ(registry[0]["paused"], false);
  WaitForStatus(id, "Completed", std::chrono::seconds(60));
}

TEST_F(TorrentCommands, TorrentFileDownloadsThroughTheService) {
  const auto content = MakeContent(200 * 1024, 8);
  LoopbackSeeder seeder(seeds.path(), "file.bin", content);
  const auto id = EnqueueTorrent({{"torrentFilePath", seeder.TorrentFile().string()}});
  seeder.ConnectTo(torrentPort);
  WaitForStatus(id, "Completed", std::chrono::seconds(60));
  EXPECT_EQ(ReadFile(downloads.path() / "file.bin"), content);
}

TEST_F(TorrentCommands, ControlCommandsRouteTorrentIds) {
  const auto magnet = "magnet:?xt=urn:btih:" + std::string(40, 'a');
  const auto id = EnqueueTorrent({{"magnet", magnet}});
  // New torrents enter libtorrent's queue paused; it starts them on its next tick.
  const auto resolving = WaitForStatus(id, "Starting", std::chrono::seconds(10));
  EXPECT_EQ(resolving["fileName"], "(resolving metadata)");

  EXPECT_EQ(Send({{"type", "pause_download"}, {"id", id}}).dump(), R"({"ok":true})");
  EXPECT_EQ(Find(id)["status"], "Paused");
  EXPECT_EQ(Send({{"type", "resume_download"}, {"id", id}}).dump(), R"({"ok":true})");
  // libtorrent takes the resumed torrent back through its queue asynchronously.
  WaitForStatus(id, "Starting", std::chrono::seconds(10));
  EXPECT_EQ(Send({{"type", "cancel_download"}, {"id", id}}).dump(), R"({"ok":true})");
  EXPECT_EQ(Find(id)["status"], "Paused");  // a cancelled torrent is paused, not removed

  // The paused flag reaches index.json when the service stops.
  RestartWithSameEnvironment();
  EXPECT_EQ(Registry()[0]["paused"], true);
  EXPECT_EQ(Find(id)["status"], "Paused");

  for (const std::string type :
       {"pause_download", "resume_download", "cancel_download", "delete_download"}) {
    EXPECT_EQ(Send({{"type", type}, {"id", "tor_0_0"}}).dump(), R"({"ok":false})") << type;
  }
  for (const std::string type : {"retry_download", "set_speed_limiter"}) {
    EXPECT_EQ(Send({{"type", type}, {"id", id}}).dump(),
              R"({"error":"Task not found","ok":false})");
  }
  EXPECT_EQ(Send({{"type", "delete_download"}, {"id", id}}).dump(), R"({"ok":true})");
  EXPECT_TRUE(Find(id).is_null());
  EXPECT_EQ(ReadFile(DataRoot() / "torrents" / "index.json"), "[]");
}

TEST_F(TorrentCommands, DeleteWithFilesRemovesTheDownloadedFiles) {
  const auto content = MakeContent(100 * 1024, 9);
  LoopbackSeeder seeder(seeds.path(), "gone.bin", content);
  const auto id = EnqueueTorrent({{"magnet", seeder.Magnet()}});
  WaitForStatus(id, "Completed", std::chrono::seconds(60));
  ASSERT_TRUE(fs::exists(downloads.path() / "gone.bin"));
  EXPECT_EQ(Send({{"type", "delete_download"}, {"id", id}, {"deleteFile", true}}).dump(),
            R"({"ok":true})");
  EXPECT_TRUE(test::WaitUntil([&] { return !fs::exists(downloads.path() / "gone.bin"); },
                              std::chrono::seconds(10)));
  EXPECT_EQ(List(*service), nlohmann::json::array());
}

TEST_F(TorrentCommands, RefusedTorrentsGetTheirReasons) {
  EXPECT_EQ(Send({{"type", "enqueue_torrent"}}).dump(),
            R"({"error":"Provide a magnet link or .torrent file","ok":false})");
  const auto badMagnet = Send({{"type", "enqueue_torrent"}, {"magnet", "magnet:?nothing"}});
  EXPECT_EQ(badMagnet["ok"], false);
  EXPECT_EQ(badMagnet["error"].get<std::string>().rfind("Invalid magnet link: ", 0), 0u)
      << badMagnet;
  const auto badFile = Send({{"type", "enqueue_torrent"},
                             {"torrentFilePath", (downloads.path() / "missing.torrent").string()}});
  EXPECT_EQ(badFile["error"].get<std::string>().rfind("Could not read .torrent file: ", 0), 0u)
      << badFile;
  const auto wrongType = Send({{"type", "enqueue_torrent"}, {"magnet", 1}});
  EXPECT_EQ(wrongType["error"],
            "Invalid JSON request: [json.exception.type_error.302] type must be string, but is "
            "number");
  EXPECT_EQ(List(*service), nlohmann::json::array());
}

}  // namespace
}  // namespace vn::test

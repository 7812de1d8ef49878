// Real transfers: a second libtorrent session seeds over loopback and the engine
// downloads from it.
#include <gtest/gtest.h>

#include "apps/service/torrent/torrent_engine.h"
#include "tests/support/test_environment.h"
#include "tests/torrent/engine_test_support.h"
#include "tests/torrent/loopback_seeder.h"

namespace vn {
namespace {

using test::FindTorrent;
using test::WaitUntil;

constexpr std::size_t kContentBytes = 512 * 1024;

class TorrentTransferTest : public ::testing::Test {
 protected:
  TorrentTransferTest() : engine(test::MakeLoopbackEngine()) {
    std::filesystem::create_directories(SeedFolder());
    std::filesystem::create_directories(SaveFolder());
    engine->Start(root.path() / "torrents");
  }

  std::filesystem::path SeedFolder() const { return root.path() / "seed"; }
  std::filesystem::path SaveFolder() const { return root.path() / "save"; }

  bool WaitForCompleted(const std::string& id) {
    return WaitUntil([&] {
      const auto task = FindTorrent(*engine, id);
      return task && task->status == DownloadStatus::Completed;
    });
  }

  std::string AddMagnet(const std::string& magnet) {
    std::string error;
    const std::string id = engine->AddFromMagnet(magnet, SaveFolder().string(), error);
    EXPECT_FALSE(id.empty()) << error;
    return id;
  }

  test::TempFolder root;
  std::unique_ptr<TorrentEngine> engine;
};

TEST_F(TorrentTransferTest, MagnetWithPeerAddressDownloadsTheSeededBytes) {
  const std::string content = test::MakeContent(kContentBytes, 7);
  test::LoopbackSeeder seeder(SeedFolder(), "magnet.bin", content);
  const std::string id = AddMagnet(seeder.Magnet());
  ASSERT_TRUE(WaitForCompleted(id));

  const auto task = FindTorrent(*engine, id);
  EXPECT_EQ(task->fileName, "magnet.bin");
  EXPECT_EQ(task->totalBytes, static_cast<std::int64_t>(kContentBytes));
  EXPECT_EQ(task->downloadedBytes, static_cast<std::int64_t>(kContentBytes));
  EXPECT_EQ(task->outputPath, SaveFolder().string());
  EXPECT_EQ(test::Sha256Hex(test::ReadFile(SaveFolder() / "magnet.bin")), test::Sha256Hex(content));
}

TEST_F(TorrentTransferTest, TorrentFileDownloadsWhenTheSeederConnects) {
  const std::string content = test::MakeContent(kContentBytes, 8);
  test::LoopbackSeeder seeder(SeedFolder(), "file.bin", content);
  std::string error;
  const std::string id =
      engine->AddFromTorrentFile(seeder.TorrentFile().string(), SaveFolder().string(), error);
  ASSERT_FALSE(id.empty()) << error;

  const int port = engine->ListenPort();
  ASSERT_GT(port, 0);
  auto lastDial = std::chrono::steady_clock::time_point{};
  ASSERT_TRUE(WaitUntil([&] {
    const auto task = FindTorrent(*engine, id);
    if (task && task->status == DownloadStatus::Completed) return true;
    // A dial can arrive before the engine's torrent has left the queue; repeat it.
    if (task && task->connectionCount == 0 &&
        std::chrono::steady_clock::now() - lastDial > std::chrono::seconds(1)) {
      seeder.ConnectTo(port);
      lastDial = std::chrono::steady_clock::now();
    }
    return false;
  }));
  EXPECT_EQ(test::ReadFile(SaveFolder() / "file.bin"), content);
}

TEST_F(TorrentTransferTest, RemoveDeletesDownloadedFilesOnlyWhenAsked) {
  const std::string keptContent = test::MakeContent(256 * 1024, 9);
  const std::string droppedContent = test::MakeContent(256 * 1024, 10);
  test::LoopbackSeeder keptSeeder(SeedFolder(), "kept.bin", keptContent);
  test::LoopbackSeeder droppedSeeder(SeedFolder(), "dropped.bin", droppedContent);
  const std::string keptId = AddMagnet(keptSeeder.Magnet());
  const std::string droppedId = AddMagnet(droppedSeeder.Magnet());
  ASSERT_TRUE(WaitForCompleted(keptId));
  ASSERT_TRUE(WaitForCompleted(droppedId));

  EXPECT_TRUE(engine->Remove(keptId, false));
  EXPECT_TRUE(engine->Remove(droppedId, true));
  EXPECT_TRUE(WaitUntil([&] { return !std::filesystem::exists(SaveFolder() / "dropped.bin"); }));
  EXPECT_EQ(test::ReadFile(SaveFolder() / "kept.bin"), keptContent);
  EXPECT_TRUE(engine->Snapshot().empty());
  EXPECT_EQ(test::ReadFile(root.path() / "torrents" / "index.json"), "[]");
}

TEST_F(TorrentTransferTest, PausedTorrentStaysPausedAcrossRestartUntilResumed) {
  const std::string content = test::MakeContent(kContentBytes, 11);
  test::LoopbackSeeder seeder(SeedFolder(), "held.bin", content);
  const std::string id = AddMagnet(seeder.Magnet());
  ASSERT_TRUE(engine->Pause(id));

  // libtorrent's queue restarts auto-managed torrents on its own. A torrent
  // added after the pause that completes shows the queue has run since.
  int witnesses = 0;
  const auto expectHeld = [&] {
    const std::string name = "witness" + std::to_string(++witnesses) + ".bin";
    test::LoopbackSeeder witness(SeedFolder(), name, test::MakeContent(16 * 1024, 20 + witnesses));
    ASSERT_TRUE(WaitForCompleted(AddMagnet(witness.Magnet())));
    const auto task = FindTorrent(*engine, id);
    ASSERT_TRUE(task);
    EXPECT_EQ(task->status, DownloadStatus::Paused);
    EXPECT_EQ(task->downloadedBytes, 0);
    EXPECT_EQ(task->connectionCount, 0);
    EXPECT_FALSE(std::filesystem::exists(SaveFolder() / "held.bin"));
  };
  expectHeld();

  engine = test::MakeLoopbackEngine();
  engine->Start(root.path() / "torrents");
  expectHeld();

  ASSERT_TRUE(engine->Resume(id));
  ASSERT_TRUE(WaitForCompleted(id));
  EXPECT_EQ(test::ReadFile(SaveFolder() / "held.bin"), content);
}

// The progress of a paused torrent comes back with it after a restart, from its
// resume data and without checking the files; without usable resume data it is
// added as before and shows none until resumed.
TEST_F(TorrentTransferTest, PausedProgressComesBackFromResumeDataAfterARestart) {
  const std::string content = test::MakeContent(256 * 1024, 12);
  test::LoopbackSeeder seeder(SeedFolder(), "kept.bin", content);
  const std::string id = AddMagnet(seeder.Magnet());
  ASSERT_TRUE(WaitForCompleted(id));
  EXPECT_EQ(FindTorrent(*engine, id)->speedBytesPerSecond, 0);
  ASSERT_TRUE(engine->Pause(id));
  engine.reset();

  std::vector<std::filesystem::path> resumeFiles;
  for (const auto& item : std::filesystem::directory_iterator(root.path() / "torrents")) {
    if (item.path().extension() == ".resume") resumeFiles.push_back(item.path());
  }
  ASSERT_EQ(resumeFiles.size(), 1u);
  const std::string resumeData = test::ReadFile(resumeFiles[0]);

  for (const bool usable : {true, false}) {
    test::WriteFile(resumeFiles[0], usable ? resumeData : resumeData.substr(0, 20));
    engine = test::MakeLoopbackEngine();
    engine->Start(root.path() / "torrents");
    const auto task = FindTorrent(*engine, id);
    ASSERT_TRUE(task);
    EXPECT_EQ(task->status, DownloadStatus::Paused);
    EXPECT_EQ(task->fileName, "kept.bin");
    // A paused torrent is never checked: only resume data can bring its progress.
    if (usable) {
      EXPECT_TRUE(WaitUntil([&] {
        const auto now = FindTorrent(*engine, id);
        return now->status == DownloadStatus::Paused &&
               now->downloadedBytes == static_cast<std::int64_t>(content.size());
      }));
    }
    engine.reset();
  }
  ASSERT_TRUE(std::filesystem::exists(resumeFiles[0]));

  engine = test::MakeLoopbackEngine();
  engine->Start(root.path() / "torrents");
  ASSERT_TRUE(engine->Resume(id));
  ASSERT_TRUE(WaitForCompleted(id));
  EXPECT_EQ(test::ReadFile(SaveFolder() / "kept.bin"), content);
  EXPECT_TRUE(engine->Remove(id, false));
  EXPECT_FALSE(std::filesystem::exists(resumeFiles[0]));
}

}  // namespace
}  // namespace vn

#include "apps/service/torrent/torrent_engine.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "apps/service/torrent/torrent_registry.h"
#include "tests/support/test_environment.h"
#include "tests/torrent/engine_test_support.h"
#include "tests/torrent/loopback_seeder.h"

namespace vn {
namespace {

using test::FindTorrent;
using test::MakeLoopbackEngine;
using test::UnreachableMagnet;
using test::WaitUntil;

class TorrentEngineTest : public ::testing::Test {
 protected:
  std::filesystem::path Torrents() const { return root.path() / "torrents"; }
  std::filesystem::path Index() const { return Torrents() / "index.json"; }
  std::string SavePath() const { return (root.path() / "save").string(); }

  std::unique_ptr<TorrentEngine> StartedEngine() {
    auto engine = MakeLoopbackEngine();
    engine->Start(Torrents());
    return engine;
  }

  std::string AddMagnet(TorrentEngine& engine, const std::string& magnet) {
    std::string error;
    const std::string id = engine.AddFromMagnet(magnet, SavePath(), error);
    EXPECT_FALSE(id.empty()) << error;
    return id;
  }

  test::TempFolder root;
};

TEST_F(TorrentEngineTest, AddBeforeStartReportsNotRunning) {
  auto engine = MakeLoopbackEngine();
  std::string error;
  EXPECT_EQ(engine->AddFromMagnet(UnreachableMagnet(), SavePath(), error), "");
  EXPECT_EQ(error, "Torrent engine is not running");
  error.clear();
  EXPECT_EQ(engine->AddFromTorrentFile("/nowhere/x.torrent", SavePath(), error), "");
  EXPECT_EQ(error, "Torrent engine is not running");
  error.clear();
  EXPECT_FALSE(engine->SetDownloadRateLimit(1024, error));
  EXPECT_EQ(error, "Torrent engine is not running");
}

TEST_F(TorrentEngineTest, OperationsBeforeStartFindNothingAndWriteNothing) {
  {
    auto engine = MakeLoopbackEngine();
    EXPECT_FALSE(engine->Pause("tor_1_0"));
    EXPECT_FALSE(engine->Resume("tor_1_0"));
    EXPECT_FALSE(engine->Remove("tor_1_0", false));
    EXPECT_TRUE(engine->Snapshot().empty());
    EXPECT_EQ(engine->ListenPort(), 0);
  }
  EXPECT_FALSE(std::filesystem::exists(Torrents()));
}

TEST_F(TorrentEngineTest, InvalidMagnetReportsLibraryMessage) {
  auto engine = StartedEngine();
  std::string error;
  EXPECT_EQ(engine->AddFromMagnet("http://example.invalid/not-a-magnet", SavePath(), error), "");
  const std::string prefix = "Invalid magnet link: ";
  ASSERT_EQ(error.rfind(prefix, 0), 0u) << error;
  EXPECT_GT(error.size(), prefix.size());
  EXPECT_FALSE(std::filesystem::exists(Index()));
}

TEST_F(TorrentEngineTest, MissingTorrentFileReportsLibraryMessage) {
  auto engine = StartedEngine();
  std::string error;
  const std::string missing = (root.path() / "missing.torrent").string();
  EXPECT_EQ(engine->AddFromTorrentFile(missing, SavePath(), error), "");
  const std::string prefix = "Could not read .torrent file: ";
  ASSERT_EQ(error.rfind(prefix, 0), 0u) << error;
  EXPECT_GT(error.size(), prefix.size());
  EXPECT_TRUE(engine->Snapshot().empty());
}

TEST_F(TorrentEngineTest, SameTorrentTwiceIsRefusedWithLibraryMessage) {
  auto engine = StartedEngine();
  const auto torrentFile =
      test::MakeTorrentFile(root.path(), "twice.bin", test::MakeContent(64 * 1024)).string();
  std::string error;
  const std::string first = engine->AddFromTorrentFile(torrentFile, SavePath(), error);
  ASSERT_FALSE(first.empty()) << error;
  const std::string before = test::ReadFile(Index());

  EXPECT_EQ(engine->AddFromTorrentFile(torrentFile, SavePath(), error), "");
  const std::string prefix = "Could not add torrent: ";
  ASSERT_EQ(error.rfind(prefix, 0), 0u) << error;
  EXPECT_GT(error.size(), prefix.size());
  EXPECT_EQ(engine->Snapshot().size(), 1u);
  EXPECT_EQ(test::ReadFile(Index()), before);
}

TEST_F(TorrentEngineTest, IdsAreUniqueAndCarryTimeAndCounter) {
  auto engine = StartedEngine();
  const std::string first = AddMagnet(*engine, UnreachableMagnet('a'));
  const std::string second = AddMagnet(*engine, UnreachableMagnet('b'));
  const std::regex pattern("tor_([0-9]+)_([0-9]+)");
  std::smatch a, b;
  ASSERT_TRUE(std::regex_match(first, a, pattern)) << first;
  ASSERT_TRUE(std::regex_match(second, b, pattern)) << second;
  EXPECT_NE(first, second);
  EXPECT_EQ(std::stoull(b[2]), std::stoull(a[2]) + 1);
  EXPECT_LE(std::stoull(a[1]), std::stoull(b[1]));
  EXPECT_TRUE(IsTorrentId(first));
}

TEST_F(TorrentEngineTest, MagnetWithoutPeersIsListedAsResolvingMetadata) {
  auto engine = StartedEngine();
  const std::string magnet = UnreachableMagnet();
  const std::string id = AddMagnet(*engine, magnet);
  ASSERT_TRUE(WaitUntil([&] {
    const auto task = FindTorrent(*engine, id);
    return task && task->status == DownloadStatus::Starting;
  }));
  const auto task = FindTorrent(*engine, id);
  ASSERT_TRUE(task);
  EXPECT_EQ(task->fileName, "(resolving metadata)");
  EXPECT_EQ(task->url, magnet);
  EXPECT_EQ(task->outputPath, SavePath());
  EXPECT_TRUE(task->isTorrent);
  EXPECT_EQ(task->downloadedBytes, 0);
  EXPECT_TRUE(task->segments.empty());
}

TEST_F(TorrentEngineTest, AddWritesTheRegistryEntry) {
  auto engine = StartedEngine();
  const std::string magnet = UnreachableMagnet();
  const std::string id = AddMagnet(*engine, magnet);
  EXPECT_EQ(test::ReadFile(Index()), "[\n  {\n    \"id\": \"" + id +
                                         "\",\n    \"isFile\": false,\n    \"paused\": false,\n"
                                         "    \"savePath\": \"" +
                                         SavePath() + "\",\n    \"source\": \"" + magnet +
                                         "\"\n  }\n]");
}

TEST_F(TorrentEngineTest, PauseAndResumeWriteTheFileAtOnce) {
  auto engine = StartedEngine();
  const std::string id = AddMagnet(*engine, UnreachableMagnet());
  const auto pausedInFile = [&] {
    const auto records = ReadTorrentRegistry(Torrents());
    EXPECT_EQ(records.size(), 1u);
    EXPECT_EQ(records.at(0).id, id);
    return records.at(0).paused;
  };
  EXPECT_FALSE(pausedInFile());

  // No stop in between: what a kill -9 would leave behind.
  ASSERT_TRUE(engine->Pause(id));
  EXPECT_TRUE(pausedInFile());
  EXPECT_EQ(FindTorrent(*engine, id)->status, DownloadStatus::Paused);
  ASSERT_TRUE(engine->Resume(id));
  EXPECT_FALSE(pausedInFile());
  ASSERT_TRUE(
      WaitUntil([&] { return FindTorrent(*engine, id)->status != DownloadStatus::Paused; }));

  ASSERT_TRUE(engine->Pause(id));
  engine.reset();
  EXPECT_TRUE(pausedInFile());
}

// Only a client's pause is Paused: torrents beyond libtorrent's active limit,
// and torrents it has not started yet, are Queued.
TEST_F(TorrentEngineTest, TorrentsHeldByLibtorrentsQueueAreQueuedNeverPaused) {
  auto engine = StartedEngine();
  std::set<std::string> statuses;
  for (char digit : std::string("123456789abc")) {
    AddMagnet(*engine, UnreachableMagnet(digit));
    for (const auto& task : engine->Snapshot()) statuses.insert(StatusText(task.status));
  }
  ASSERT_TRUE(WaitUntil([&] {
    std::map<DownloadStatus, int> counts;
    for (const auto& task : engine->Snapshot()) {
      statuses.insert(StatusText(task.status));
      ++counts[task.status];
    }
    // active_downloads is 10: the other two wait in the queue.
    return counts[DownloadStatus::Starting] == 10 && counts[DownloadStatus::Queued] == 2;
  })) << [&] {
    std::string listed;
    for (const auto& task : engine->Snapshot()) listed += StatusText(task.status) + " ";
    return listed;
  }();
  EXPECT_EQ(statuses.count("Paused"), 0u);
  for (const auto& task : engine->Snapshot()) EXPECT_EQ(task.speedBytesPerSecond, 0);
}

TEST_F(TorrentEngineTest, AFolderIsNotATorrentFile) {
  auto engine = StartedEngine();
  std::string error;
  EXPECT_EQ(engine->AddFromTorrentFile(root.path().string(), SavePath(), error), "");
  EXPECT_EQ(error, "Could not read .torrent file: not a regular file");
}

TEST_F(TorrentEngineTest, UnknownIdsChangeNothing) {
  auto engine = StartedEngine();
  AddMagnet(*engine, UnreachableMagnet());
  const std::string before = test::ReadFile(Index());
  EXPECT_FALSE(engine->Pause("tor_0_0"));
  EXPECT_FALSE(engine->Resume("tor_0_0"));
  EXPECT_FALSE(engine->Remove("tor_0_0", true));
  EXPECT_EQ(test::ReadFile(Index()), before);
  EXPECT_EQ(engine->Snapshot().size(), 1u);
}

TEST_F(TorrentEngineTest, RemovingTheLastTorrentWritesEmptyArray) {
  auto engine = StartedEngine();
  const std::string id = AddMagnet(*engine, UnreachableMagnet());
  EXPECT_TRUE(engine->Remove(id, false));
  EXPECT_EQ(test::ReadFile(Index()), "[]");
  EXPECT_TRUE(engine->Snapshot().empty());
  EXPECT_FALSE(engine->Pause(id));
}

TEST_F(TorrentEngineTest, RestartRestoresTorrentsUnderTheirIdsWithPauseState) {
  const auto torrentFile =
      test::MakeTorrentFile(root.path(), "kept.bin", test::MakeContent(64 * 1024)).string();
  std::string pausedId, runningId;
  {
    auto engine = StartedEngine();
    pausedId = AddMagnet(*engine, UnreachableMagnet());
    std::string error;
    runningId = engine->AddFromTorrentFile(torrentFile, SavePath(), error);
    ASSERT_FALSE(runningId.empty()) << error;
    ASSERT_TRUE(engine->Pause(pausedId));
  }
  auto engine = StartedEngine();
  EXPECT_EQ(engine->Snapshot().size(), 2u);
  const auto paused = FindTorrent(*engine, pausedId);
  ASSERT_TRUE(paused);
  EXPECT_EQ(paused->status, DownloadStatus::Paused);
  EXPECT_EQ(paused->url, UnreachableMagnet());
  ASSERT_TRUE(WaitUntil([&] {
    const auto running = FindTorrent(*engine, runningId);
    return running && running->status != DownloadStatus::Paused;
  }));
  const auto running = FindTorrent(*engine, runningId);
  EXPECT_EQ(running->url, torrentFile);
  EXPECT_EQ(running->fileName, "kept.bin");
  EXPECT_EQ(running->totalBytes, 64 * 1024);

  // The restored pause is a real one: resuming lets libtorrent take over again.
  ASSERT_TRUE(engine->Resume(pausedId));
  EXPECT_TRUE(
      WaitUntil([&] { return FindTorrent(*engine, pausedId)->status != DownloadStatus::Paused; }));
}

TEST_F(TorrentEngineTest, StartTwiceKeepsTheFirstSession) {
  auto engine = StartedEngine();
  const int port = engine->ListenPort();
  EXPECT_GT(port, 0);
  const std::string id = AddMagnet(*engine, UnreachableMagnet());
  engine->Start(root.path() / "elsewhere");
  EXPECT_EQ(engine->ListenPort(), port);
  EXPECT_TRUE(FindTorrent(*engine, id));
  EXPECT_FALSE(std::filesystem::exists(root.path() / "elsewhere"));
}

// Registry files that were damaged or edited by hand.
class TorrentRegistryLoadTest : public TorrentEngineTest {
 protected:
  std::string Element(const std::string& idMember, char hexDigit) {
    return "{" + idMember + R"("savePath":")" + SavePath() + R"(","source":")" +
           UnreachableMagnet(hexDigit) + R"(","isFile":false,"paused":false})";
  }
  void WriteIndex(const std::string& text) {
    std::filesystem::create_directories(Torrents());
    test::WriteFile(Index(), text);
  }
};

TEST_F(TorrentRegistryLoadTest, ObjectInsteadOfArrayLoadsNothingAndIsReplacedByAnArray) {
  WriteIndex("{\"torrents\": [" + Element(R"("id":"tor_1_0",)", 'a') + "]}");
  auto engine = StartedEngine();
  EXPECT_TRUE(engine->Snapshot().empty());
  const std::string id = AddMagnet(*engine, UnreachableMagnet('b'));
  const auto records = ReadTorrentRegistry(Torrents());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].id, id);
}

TEST_F(TorrentRegistryLoadTest, InvalidJsonLoadsNothingAndStartSucceeds) {
  WriteIndex("[{\"id\": \"tor_1_0\", ");
  auto engine = MakeLoopbackEngine();
  EXPECT_NO_THROW(engine->Start(Torrents()));
  EXPECT_TRUE(engine->Snapshot().empty());
  EXPECT_GT(engine->ListenPort(), 0);
}

TEST_F(TorrentRegistryLoadTest, TrailingTextAfterTheArrayStillLoads) {
  WriteIndex("[" + Element(R"("id":"tor_1_0",)", 'a') + "]\nleftover ] }");
  auto engine = StartedEngine();
  EXPECT_TRUE(FindTorrent(*engine, "tor_1_0"));
}

TEST_F(TorrentRegistryLoadTest, ElementWithoutIdGetsFreshIdThatTheFileKeeps) {
  WriteIndex("[" + Element("", 'a') + ", " + Element(R"("id":"",)", 'b') + "]");
  std::set<std::string> ids;
  {
    auto engine = StartedEngine();
    for (const auto& task : engine->Snapshot()) {
      EXPECT_TRUE(std::regex_match(task.id, std::regex("tor_[0-9]+_[0-9]+"))) << task.id;
      ids.insert(task.id);
    }
    EXPECT_EQ(ids.size(), 2u);
    // Loading does not write; the stop does.
    EXPECT_EQ(ReadTorrentRegistry(Torrents())[0].id, "");
  }
  std::set<std::string> written;
  for (const auto& record : ReadTorrentRegistry(Torrents())) written.insert(record.id);
  EXPECT_EQ(written, ids);
}

TEST_F(TorrentRegistryLoadTest, BadElementsAreSkippedAndTheRestLoads) {
  WriteIndex("[42, \"tor_9_9\", " + std::string(R"({"id":"tor_2_0","savePath":7,"source":")") +
             UnreachableMagnet('b') +
             R"("}, {"id":"tor_3_0","savePath":"x","source":"not a magnet"}, )" +
             R"({"id":"tor_4_0","savePath":"x","source":"/missing.torrent","isFile":true}, )" +
             R"({"id":"tor_5_0","source":")" + UnreachableMagnet('c') + R"("}, )" +
             Element(R"("id":"handmade",)", 'a') + ", " + Element(R"("id":"tor_1_0",)", 'd') + "]");
  auto engine = StartedEngine();
  const auto tasks = engine->Snapshot();
  std::set<std::string> ids;
  for (const auto& task : tasks) ids.insert(task.id);
  EXPECT_EQ(ids, (std::set<std::string>{"handmade", "tor_1_0"}));
  engine.reset();
  EXPECT_EQ(ReadTorrentRegistry(Torrents()).size(), 2u);
}

TEST_F(TorrentRegistryLoadTest, RepeatedIdKeepsTheLaterElementOnly) {
  WriteIndex("[" + Element(R"("id":"tor_1_0",)", 'a') + ", " + Element(R"("id":"tor_1_0",)", 'b') +
             "]");
  auto engine = StartedEngine();
  const auto tasks = engine->Snapshot();
  ASSERT_EQ(tasks.size(), 1u);
  EXPECT_EQ(tasks[0].url, UnreachableMagnet('b'));
  // The earlier torrent left the session: adding it again is not a duplicate.
  AddMagnet(*engine, UnreachableMagnet('a'));
}

// A registry that cannot be read in full is set aside, never overwritten, and
// what could be read of it is kept.
TEST_F(TorrentRegistryLoadTest, UnreadableFileIsSetAsideAndNeverOverwritten) {
  const std::string good = Element(R"("id":"tor_1_0",)", 'a');
  const std::string truncated = "[" + good + ", {\"id\": \"tor_2";
  const std::string wrongType = "[" + good + R"(, {"id":"tor_2_0","savePath":"/x","source":")" +
                                UnreachableMagnet('b') + R"(","paused":"yes"}])";
  for (const std::string& text : {truncated, wrongType}) {
    std::filesystem::remove_all(Torrents());
    WriteIndex(text);
    // A name already taken from an earlier start is left alone too.
    const auto now = std::chrono::system_clock::now();
    const auto earlier = SetAsideBrokenRegistry(Torrents(), now);
    ASSERT_FALSE(earlier.empty());
    WriteIndex(text);

    testing::internal::CaptureStderr();
    auto engine = StartedEngine();
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(FindTorrent(*engine, "tor_1_0")) << text;
    EXPECT_EQ(engine->Snapshot().size(), 1u);
    AddMagnet(*engine, UnreachableMagnet('c'));
    engine.reset();

    std::vector<std::filesystem::path> aside;
    for (const auto& item : std::filesystem::directory_iterator(Torrents())) {
      if (item.path().filename().string().rfind("index.json.broken-", 0) == 0) {
        aside.push_back(item.path());
      }
    }
    ASSERT_EQ(aside.size(), 2u) << text;
    for (const auto& path : aside) {
      EXPECT_EQ(test::ReadFile(path), text);
      EXPECT_TRUE(std::regex_match(path.filename().string(),
                                   std::regex(R"(index\.json\.broken-\d{8}T\d{6}Z(-\d+)?)")))
          << path;
    }
    EXPECT_NE(said.find("could not be read"), std::string::npos) << said;
    EXPECT_NE(said.find("index.json.broken-"), std::string::npos) << said;
    EXPECT_EQ(ReadTorrentRegistry(Torrents()).size(), 2u);
  }
}

}  // namespace
}  // namespace vn

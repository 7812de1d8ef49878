#include <filesystem>
#include <map>

#include "tests/e2e/service_fixture.h"
#include "tests/e2e/stored_downloads.h"

namespace vn::test {
namespace {

namespace fs = std::filesystem;

using StartupReconciliation = ServiceTest;

TEST_F(StartupReconciliation, RestoresEveryStoredDownloadInAConsistentState) {
  StartService()->Stop();  // creates the database with its tables
  TempFolder downloads;
  const auto& out = downloads.path();
  {
    StoredDownloads db(DataRoot() / "data" / "downloads.db");
    db.AddTask("dl_1", "Downloading", out, "running-kept.bin", 1000, 500);
    db.AddTask("dl_2", "Starting", out, "running-lost.bin", 1000, 500);
    db.AddTask("dl_3", "Completed", out, "done.bin", 1000, 0);
    db.AddTask("dl_4", "Completed", out, "done-deleted.bin", 1000, 0);
    db.AddTask("dl_5", "Cancelled", out, "cancelled.bin", 1000, 0);
    db.AddTask("dl_6", "Paused", out, "paused-lost.bin", 1000, 0);
    db.AddTask("dl_7", "Verifying", out, "verifying.bin", 1000, 0);
    db.AddTask("dl_8", "Failed", out, "failed.bin", 1000, 0);
  }
  // A crash loses the progress staged since the last write: the partial
  // files, not the stored counts, say what is held.
  WriteFile(out / "running-kept.bin.segments" / "0.part", std::string(800, 'a'));
  WriteFile(out / "running-kept.bin.segments" / "1.part", std::string(300, 'b'));
  WriteFile(out / "done.bin", std::string(123, 'x'));
  WriteFile(out / "done.bin.segments" / "0.part", "left over");
  WriteFile(out / "cancelled.bin.segments" / "0.part", "left over");
  fs::create_directories(out / "verifying.bin.segments");
  fs::create_directories(out / "failed.bin.segments");

  auto service = StartService();
  std::map<std::string, nlohmann::json> listed;
  for (const auto& task : List(*service)) listed[task["id"]] = task;
  ASSERT_EQ(listed.size(), 8u);

  const auto progress = [](const nlohmann::json& task) {
    std::vector<std::int64_t> counts{task["downloadedBytes"].get<std::int64_t>()};
    for (const auto& segment : task["segments"]) counts.push_back(segment["downloadedBytes"]);
    return counts;
  };
  using Counts = std::vector<std::int64_t>;

  EXPECT_EQ(listed["dl_1"]["status"], "Paused");
  EXPECT_EQ(progress(listed["dl_1"]), (Counts{1100, 800, 300}));
  EXPECT_EQ(listed["dl_2"]["status"], "Paused");
  EXPECT_EQ(progress(listed["dl_2"]), (Counts{0, 0, 0}));

  EXPECT_EQ(listed["dl_3"]["status"], "Completed");
  EXPECT_EQ(listed["dl_3"]["downloadedBytes"], 123);
  EXPECT_EQ(listed["dl_3"]["segments"], nlohmann::json::array());
  EXPECT_FALSE(fs::exists(out / "done.bin.segments"));

  EXPECT_EQ(listed["dl_4"]["status"], "Failed");
  EXPECT_EQ(progress(listed["dl_4"]), (Counts{0, 0, 0}));

  EXPECT_EQ(listed["dl_5"]["status"], "Cancelled");
  EXPECT_EQ(progress(listed["dl_5"]), (Counts{0, 0, 0}));
  EXPECT_FALSE(fs::exists(out / "cancelled.bin.segments"));

  EXPECT_EQ(listed["dl_6"]["status"], "Paused");
  EXPECT_EQ(progress(listed["dl_6"]), (Counts{0, 0, 0}));
  EXPECT_EQ(listed["dl_7"]["status"], "Verifying");
  EXPECT_EQ(progress(listed["dl_7"]), (Counts{1000, 700, 300}));
  EXPECT_EQ(listed["dl_8"]["status"], "Failed");
  EXPECT_EQ(progress(listed["dl_8"]), (Counts{1000, 700, 300}));

  for (const auto& [id, task] : listed) {
    EXPECT_EQ(task["speedBytesPerSecond"], 0) << id;
    EXPECT_EQ(task["connectionCount"], 2) << id;
    EXPECT_EQ(task["isTorrent"], false) << id;
  }

  // The reconciled states were saved: a restart after a crash lists the same.
  const auto before = List(*service);
  service->Kill();
  auto again = StartService();
  EXPECT_EQ(List(*again), before);
}

TEST_F(StartupReconciliation, ListsTasksWithTheFourteenMembersInOrder) {
  StartService()->Stop();
  TempFolder downloads;
  {
    StoredDownloads db(DataRoot() / "data" / "downloads.db");
    db.AddTask("dl_9", "Paused", downloads.path(), "a.bin", 1000, 0);
    db.Exec("INSERT INTO download_segments VALUES ('dl_9', 5, 10, 20, 3);");
  }
  const auto folder = downloads.path() / "a.bin.segments";
  WriteFile(folder / "0.part", std::string(700, 'p'));
  WriteFile(folder / "1.part", std::string(300, 'p'));
  auto service = StartService();
  const std::string expected =
      R"({"downloads":[{"connectionCount":2,"downloadedBytes":1000,"failureReason":"",)"
      R"("fileName":"a.bin","finalizeDone":0,"finalizeTotal":0,"id":"dl_9","isTorrent":false,)"
      R"("outputPath":")" +
      downloads.path().string() +
      R"(","segments":[{"downloadedBytes":700,"end":1499,"index":1,"start":0},)"
      R"({"downloadedBytes":300,"end":2999,"index":2,"start":1500},)"
      R"({"downloadedBytes":0,"end":20,"index":3,"start":10}],"speedBytesPerSecond":0,)"
      R"("status":"Paused","totalBytes":3000,"url":"http://127.0.0.1:9/a.bin"}],"ok":true})";
  EXPECT_EQ(service->Request(R"({"type":"list_downloads"})"), expected);
}

}  // namespace
}  // namespace vn::test

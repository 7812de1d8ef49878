// A finished, verified file and the list that vouches for it are never lost to
// a command, a race with the finish, a new address or a damaged database.
#include <map>

#include "tests/e2e/download_fixture.h"

namespace vn::test {
namespace {

namespace fs = std::filesystem;
using FinishedFiles = DownloadTest;


// Files a person keeps beside a download, with their digests.
std::map<fs::path, std::string> PlantNeighbours(const fs::path& folder) {
  std::map<fs::path, std::string> planted;
  for (const char* name : {"notes.txt", "done.bin.bak", "other.segments/0.part"}) {
    const auto path = folder / name;
    WriteFile(path, std::string("kept: ") + name);
    planted[path] = Sha256Hex(ReadFile(path));
  }
  return planted;
}

void ExpectUntouched(const std::map<fs::path, std::string>& planted) {
  for (const auto& [path, digest] : planted) {
    ASSERT_TRUE(fs::exists(path)) << path;
    EXPECT_EQ(Sha256Hex(ReadFile(path)), digest) << path;
  }
}

TEST_F(FinishedFiles, CommandsThatWouldFetchAgainOrCleanUpLeaveAVerifiedFileAlone) {
  const auto body = MakeContent(300 * 1024);
  server.SetResource("/done.bin", Resource(body));
  server.SetResource("/other.bin", Resource(MakeContent(300 * 1024 + 1)));
  server.SetResource("/same-size.bin", Resource(MakeContent(300 * 1024) + "!"));
  const auto id = Enqueue({{"url", server.Url("/done.bin")}});
  WaitForStatus(id, "Completed");
  const auto planted = PlantNeighbours(downloads.path());

  struct Case {
    nlohmann::json request;
    std::string error;
  };
  const std::vector<Case> cases = {
      {{{"type", "cancel_download"}, {"id", id}}, "Download is completed"},
      {{{"type", "pause_download"}, {"id", id}}, "Download is completed"},
      {{{"type", "resume_download"}, {"id", id}}, "Download is completed"},
      {{{"type", "update_download_url"}, {"id", id}, {"url", server.Url("/other.bin")}},
       "Download is completed"},
      {{{"type", "update_download_url"}, {"id", id}, {"url", server.Url("/missing.bin")}},
       "Download is completed"},
      {{{"type", "update_download_url"}, {"id", id}, {"url", "http://127.0.0.1:9/x"}},
       "Download is completed"},
      {{{"type", "update_download_url"}, {"id", "tor_1_1"}, {"url", server.Url("/done.bin")}},
       "A torrent has no download URL to update"},
  };
  for (const auto& [request, error] : cases) {
    EXPECT_EQ(Send(request), (nlohmann::json{{"ok", false}, {"error", error}})) << request;
    EXPECT_EQ(Find(id)["status"], "Completed") << request;
  }
  EXPECT_EQ(Send({{"type", "delete_download"}, {"id", id}}).dump(), R"({"ok":true})");
  EXPECT_EQ(Sha256Hex(ReadFile(OutputFile("done.bin"))), Sha256Hex(body));
  ExpectUntouched(planted);
}

// A cancel sent while the run joins and hashes either comes too late (the
// download stays Completed with its file) or ends it without any file; never
// Cancelled with the verified file gone.
TEST_F(FinishedFiles, ACancelRacingTheFinishEndsWithTheFileOrWithNoFiles) {
  const auto body = MakeContent(8 * 1024 * 1024);
  server.SetResource("/race.bin", Resource(body));
  int completed = 0;
  for (int round = 1; round <= 6; ++round) {
    const std::string name = "race" + std::to_string(round) + ".bin";
    SCOPED_TRACE(name);
    const auto id = Enqueue({{"url", server.Url("/race.bin")}, {"fileName", name}});
    WaitUntil(id, [](const nlohmann::json& t) {
      return t["status"] == "Verifying" || t["status"] == "Completed";
    });
    const auto answer = Send({{"type", "cancel_download"}, {"id", id}});
    // Listed Cancelled at once; the run then ends it, or its Completed
    // report, when the cancel came too late, takes the cancel back.
    const auto ended = WaitUntil(id, [&](const nlohmann::json& t) {
      const bool noFiles =
          !fs::exists(OutputFile(name)) && !fs::exists(OutputFile(name + ".segments"));
      return t["status"] == "Completed" || (t["status"] == "Cancelled" && noFiles);
    });
    if (ended["status"] == "Completed") {
      ++completed;
      EXPECT_EQ(Sha256Hex(ReadFile(OutputFile(name))), Sha256Hex(body));
    } else {
      EXPECT_EQ(answer.dump(), R"({"ok":true})");
      EXPECT_FALSE(fs::exists(OutputFile(name)));
    }
    Restart();
    EXPECT_EQ(Find(id)["status"], ended["status"]);
  }
  RecordProperty("completedRounds", completed);
}

// A new address keeps the bytes already held only when they are the new
// address's bytes too: with no validators to vouch for them, the last bytes
// held are fetched again and compared.
TEST_F(FinishedFiles, ARefreshKeepsProgressOnlyForTheSameBytes) {
  constexpr std::int64_t kSize = 2 * 1024 * 1024;
  const auto body = MakeContent(kSize);
  auto other = body;
  for (std::size_t i = 0; i < other.size(); i += 4096) other[i] = static_cast<char>(~other[i]);
  struct Case {
    std::string name;
    std::string newBody;
    bool keepsProgress;
  };
  const std::vector<Case> cases = {{"same.bin", body, true}, {"other.bin", other, false}};
  for (const auto& [name, newBody, keepsProgress] : cases) {
    SCOPED_TRACE(name);
    server.SetResource("/old-" + name, Resource(body, 256 * 1024));
    server.SetResource("/new-" + name, Resource(newBody));
    const auto id = Enqueue({{"url", server.Url("/old-" + name)}, {"fileName", name}});
    WaitUntil(id, [](const nlohmann::json& t) { return t["downloadedBytes"] > 300 * 1024; });
    ASSERT_EQ(Send({{"type", "pause_download"}, {"id", id}}).dump(), R"({"ok":true})");
    const auto paused = WaitUntil(id, [&](const nlohmann::json& t) {
      return t["status"] == "Paused" && server.Counters().openConnections == 0;
    });
    ASSERT_EQ(
        Send({{"type", "update_download_url"}, {"id", id}, {"url", server.Url("/new-" + name)}})
            .dump(),
        R"({"ok":true})");
    server.ResetCounters();
    ASSERT_EQ(Send({{"type", "resume_download"}, {"id", id}}).dump(), R"({"ok":true})");
    WaitForStatus(id, "Completed");
    EXPECT_EQ(Sha256Hex(ReadFile(OutputFile(name))), Sha256Hex(newBody));
    const auto fetched = server.Counters().bodyBytesSent;
    if (keepsProgress) {
      EXPECT_LT(fetched, kSize - paused["downloadedBytes"].get<std::int64_t>() + 128 * 1024);
    } else {
      EXPECT_GE(fetched, kSize);
    }
  }
}

TEST_F(FinishedFiles, ADamagedDatabaseIsKeptAsideOrRefusedNeverReplaced) {
  server.SetResource("/kept.bin", Resource("kept"));
  WaitForStatus(Enqueue({{"url", server.Url("/kept.bin")}}), "Completed");
  service->Stop();
  service.reset();
  const auto database = DataRoot() / "data" / "downloads.db";
  std::string bytes = ReadFile(database);
  ASSERT_GT(bytes.size(), 4096u);

  // Damaged inside: refused, with the file's name and the way out.
  std::string inside = bytes;
  for (std::size_t i = 4096; i < inside.size(); ++i) inside[i] = '\xFF';
  WriteFile(database, inside);
  {
    ServiceProcess refused(VARNEL_SERVICE_BINARY);
    EXPECT_FALSE(refused.Start(std::chrono::seconds(20)));
    EXPECT_NE(refused.Errors().find(database.string() + " cannot be read"), std::string::npos)
        << refused.Errors();
    EXPECT_NE(refused.Errors().find("Move it aside"), std::string::npos) << refused.Errors();
  }
  EXPECT_EQ(ReadFile(database), inside);

  // No database header: kept aside whole, and a new list begins.
  std::string header = bytes;
  for (std::size_t i = 0; i < 700; ++i) header[i] = 'x';
  WriteFile(database, header);
  service = StartService();
  EXPECT_EQ(List(*service), nlohmann::json::array());
  EXPECT_NE(service->Errors().find("was kept as"), std::string::npos) << service->Errors();
  std::vector<fs::path> aside;
  for (const auto& entry : fs::directory_iterator(database.parent_path())) {
    if (entry.path().filename().string().rfind("downloads.db.broken-", 0) == 0) {
      aside.push_back(entry.path());
    }
  }
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(ReadFile(aside[0]), header);
}

}  // namespace
}  // namespace vn::test

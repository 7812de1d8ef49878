#include <set>

#include "tests/e2e/download_fixture.h"
#include "tests/e2e/stored_downloads.h"

namespace vn::test {
namespace {

namespace fs = std::filesystem;
using DownloadCommands = DownloadTest;


TEST_F(DownloadCommands, EnqueueWithOnlyAUrlUsesTheDefaultsAndCompletes) {
  const auto body = MakeContent(300000);
  server.SetResource("/dir/file.zip", Resource(body));
  const auto answer = Send({{"type", "enqueue_download"}, {"url", server.Url("/dir/file.zip")}});
  ASSERT_EQ(answer["ok"], true) << answer;
  const std::string id = answer["id"];
  EXPECT_EQ(id.rfind("dl_", 0), 0u);

  const auto task = WaitForStatus(id, "Completed");
  EXPECT_EQ(task["fileName"], "file.zip");
  EXPECT_EQ(task["outputPath"], std::getenv("XDG_DOWNLOAD_DIR"));
  EXPECT_EQ(task["downloadedBytes"], 300000);
  EXPECT_EQ(task["totalBytes"], 300000);
  EXPECT_EQ(task["connectionCount"], 1);  // small file: the probe chose one
  EXPECT_EQ(task["segments"], nlohmann::json::array());
  EXPECT_EQ(ReadFile(fs::path(std::getenv("XDG_DOWNLOAD_DIR")) / "file.zip"), body);
}

TEST_F(DownloadCommands, DerivesFileNamesFromTheUrl) {
  // Nothing listens on port 9 of loopback: the runs fail, the names stay.
  const std::map<std::string, std::string> cases = {
      {"http://127.0.0.1:9/dir/", "download.bin"},
      {"http://127.0.0.1:9/get?name=a.iso&x=1", "get"},
      {"http://127.0.0.1:9", "127.0.0.1:9"},
      {"http://127.0.0.1:9/a/..", "download.bin"},
      {"http://127.0.0.1:9/a/.", "download.bin"},
  };
  int folder = 0;  // one each: a name another download has taken would be numbered
  for (const auto& [url, expected] : cases) {
    const auto id =
        Enqueue({{"url", url}, {"outputPath", (downloads.path() / std::to_string(++folder))}});
    EXPECT_EQ(Find(id)["fileName"], expected) << url;
    EXPECT_EQ(Find(id)["connectionCount"], 8) << url;
  }
}

TEST_F(DownloadCommands, RefusesFileNamesOutsideTheOutputFolder) {
  // Names that would not show as they are (a line break, a right-to-left
  // override) are refused too.
  for (const std::string name : {"/etc/passwd", "../escape.bin", "a/../../escape.bin", "./a.bin",
                                 "a/./b.bin", "..", "line\nbreak.bin", "evil\u202Etxt.exe"}) {
    const auto answer = Send({{"type", "enqueue_download"},
                              {"url", server.Url("/x")},
                              {"outputPath", downloads.path().string()},
                              {"fileName", name}});
    EXPECT_EQ(answer.dump(), R"({"error":"Invalid file name","ok":false})") << name;
  }
  EXPECT_EQ(List(*service), nlohmann::json::array());
  // Sub-folders inside the output folder stay allowed.
  server.SetResource("/x", Resource("sub-folder content"));
  const auto id = Enqueue({{"url", server.Url("/x")}, {"fileName", "sub/dir/x.bin"}});
  WaitForStatus(id, "Completed");
  EXPECT_EQ(ReadFile(OutputFile("sub/dir/x.bin")), "sub-folder content");
}

TEST_F(DownloadCommands, MissingArgumentsAndWrongTypesChangeNothing) {
  server.SetResource("/f", Resource(MakeContent(1000)));
  const auto id = Enqueue({{"url", server.Url("/f")}});
  WaitForStatus(id, "Completed");
  const auto before = List(*service);

  EXPECT_EQ(Send({{"type", "enqueue_download"}}).dump(), R"({"error":"Missing url","ok":false})");
  EXPECT_EQ(Send({{"type", "enqueue_download"}, {"url", ""}}).dump(),
            R"({"error":"Missing url","ok":false})");
  for (const std::string type : {"pause_download", "resume_download", "cancel_download",
                                 "delete_download", "retry_download", "set_speed_limiter",
                                 "update_download_url"}) {
    EXPECT_EQ(Send({{"type", type}}).dump(), R"({"error":"Missing id","ok":false})") << type;
    EXPECT_EQ(Send({{"type", type}, {"id", "dl_0"}}).dump(),
              R"({"error":"Task not found","ok":false})")
        << type;
    const auto wrongType = Send({{"type", type}, {"id", 5}});
    EXPECT_EQ(wrongType["error"],
              "Invalid JSON request: [json.exception.type_error.302] type must be string, but is "
              "number")
        << type;
  }
  for (const std::string type : {"retry_download", "set_speed_limiter"}) {
    EXPECT_EQ(Send({{"type", type}, {"id", "tor_1_0"}}).dump(),
              R"({"error":"Task not found","ok":false})");
  }
  // A new URL: only a well-formed one, only while no run goes on.
  const std::pair<nlohmann::json, std::string> refreshes[] = {
      {{{"id", id}}, "Missing url"},
      {{{"id", id}, {"url", "ftp://127.0.0.1/f"}}, "Invalid download URL"},
      {{{"id", id}, {"url", std::string("http://127.0.0.1/f\0x", 20)}}, "Invalid download URL"},
  };
  for (auto [request, error] : refreshes) {
    request["type"] = "update_download_url";
    EXPECT_EQ(Send(request)["error"], error) << request;
  }
  const auto badFlag = Send({{"type", "delete_download"}, {"id", id}, {"deleteFile", "yes"}});
  EXPECT_EQ(badFlag["error"],
            "Invalid JSON request: [json.exception.type_error.302] type must be boolean, but is "
            "string");
  const auto badCount =
      Send({{"type", "enqueue_download"}, {"url", server.Url("/f")}, {"connectionCount", "eight"}});
  EXPECT_EQ(badCount["ok"], false);
  EXPECT_EQ(List(*service), before);
  Restart();
  EXPECT_EQ(List(*service), before);
}

TEST_F(DownloadCommands, IdsStayUniqueWithinOneMillisecond) {
  std::set<std::string> ids;
  for (int i = 0; i < 25; ++i) ids.insert(Enqueue({{"url", "http://127.0.0.1:9/same"}}));
  EXPECT_EQ(ids.size(), 25u);
  EXPECT_EQ(List(*service).size(), 25u);
}

TEST_F(DownloadCommands, PauseThenResumeContinuesFromThePartialFiles) {
  const auto body = MakeContent(2 * 1024 * 1024);
  server.SetResource("/slow.bin", Resource(body, 512 * 1024));
  const auto id = Enqueue({{"url", server.Url("/slow.bin")}});
  WaitUntil(id, [](const nlohmann::json& t) { return t["downloadedBytes"] > 300000; });

  EXPECT_EQ(Send({{"type", "pause_download"}, {"id", id}}).dump(), R"({"ok":true})");
  EXPECT_EQ(Find(id)["status"], "Paused");
  // Late progress reports of the stopping run never turn it back.
  const auto isPaused = [](const nlohmann::json& t) { return t["status"] == "Paused"; };
  ExpectWhileRunsEnd(id, isPaused);
  ASSERT_TRUE(isPaused(Find(id)));
  const auto paused = Find(id);
  EXPECT_GT(paused["downloadedBytes"], 0);
  EXPECT_TRUE(fs::exists(OutputFile("slow.bin.segments")));
  const auto sentBeforeResume = server.Counters().bodyBytesSent;

  server.SetResource("/slow.bin", Resource(body));  // no more throttling
  EXPECT_EQ(Send({{"type", "resume_download"}, {"id", id}}).dump(), R"({"ok":true})");
  EXPECT_EQ(Find(id)["status"], "Starting");
  WaitForStatus(id, "Completed");
  EXPECT_EQ(Sha256Hex(ReadFile(OutputFile("slow.bin"))), Sha256Hex(body));
  EXPECT_FALSE(fs::exists(OutputFile("slow.bin.segments")));
  // Only the missing bytes (plus the one-byte probe) were fetched again.
  const auto fetchedAgain = server.Counters().bodyBytesSent - sentBeforeResume;
  EXPECT_LE(fetchedAgain, static_cast<std::int64_t>(body.size()) -
                              paused["downloadedBytes"].get<std::int64_t>() + 1);
  Restart();
  EXPECT_EQ(Find(id)["status"], "Completed");
}

TEST_F(DownloadCommands, ResumeRightAfterCancelRevivesTheLiveRun) {
  const auto body = MakeContent(1024 * 1024);
  server.SetResource("/r.bin", Resource(body, 256 * 1024));
  const auto id = Enqueue({{"url", server.Url("/r.bin")}});
  WaitUntil(id, [](const nlohmann::json& t) { return t["downloadedBytes"] > 100000; });
  EXPECT_EQ(Send({{"type", "cancel_download"}, {"id", id}}).dump(), R"({"ok":true})");
  EXPECT_EQ(Send({{"type", "resume_download"}, {"id", id}}).dump(), R"({"ok":true})");
  EXPECT_EQ(Find(id)["status"], "Downloading");
  WaitForStatus(id, "Completed");
  EXPECT_EQ(Sha256Hex(ReadFile(OutputFile("r.bin"))), Sha256Hex(body));
}

// Commands sent back to back to a running download: whatever runs they stop
// or start, one run at a time touches the files and the last command decides.
TEST_F(DownloadCommands, CommandsInQuickSuccessionSettleOnTheLastOne) {
  const auto body = MakeContent(6 * 1024 * 1024);
  server.SetResource("/busy.bin", Resource(body, 512 * 1024));
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"retry_download", "cancel_download", "retry_download"}, "Completed"},
      {{"pause_download", "resume_download", "cancel_download", "retry_download"}, "Completed"},
      {{"retry_download", "pause_download", "resume_download"}, "Completed"},
      {{"retry_download", "cancel_download"}, "Cancelled"},
      {{"pause_download", "resume_download", "cancel_download"}, "Cancelled"},
  };
  int round = 0;
  for (const auto& [commands, outcome] : cases) {
    const std::string name = "busy" + std::to_string(++round) + ".bin";
    SCOPED_TRACE(name + " ends " + outcome);
    server.ResetCounters();
    const auto id = Enqueue({{"url", server.Url("/busy.bin")}, {"fileName", name}});
    const auto running = WaitUntil(id, [](const nlohmann::json& t) {
      return t["status"] == "Downloading" && t["downloadedBytes"] > 100000;
    });
    for (const auto& type : commands) {
      EXPECT_EQ(Send({{"type", type}, {"id", id}}).dump(), R"({"ok":true})") << type;
    }
    if (outcome == "Completed") {
      WaitForStatus(id, "Completed", std::chrono::seconds(60));
      EXPECT_EQ(Sha256Hex(ReadFile(OutputFile(name))), Sha256Hex(body));
    } else {
      // The stopped runs end one after the other and the last removes the
      // files; none of their reports may turn the list away from Cancelled.
      WaitUntil(id, [&](const nlohmann::json& t) {
        return !fs::exists(OutputFile(name + ".segments")) && t["status"] == "Cancelled";
      });
      const auto isCancelled = [](const nlohmann::json& t) { return t["status"] == "Cancelled"; };
      ExpectWhileRunsEnd(id, isCancelled);
      ASSERT_TRUE(isCancelled(Find(id))) << Find(id);
      EXPECT_FALSE(fs::exists(OutputFile(name)));
    }
    // One run's workers plus the probe of the run that follows it.
    EXPECT_LE(server.Counters().maxConcurrentConnections,
              running["connectionCount"].get<int>() + 1);
  }
}

TEST_F(DownloadCommands, CancelKeepsTheTaskListedAndRemovesItsFiles) {
  server.SetResource("/c.bin", Resource(MakeContent(2 * 1024 * 1024), 256 * 1024));
  const auto id = Enqueue({{"url", server.Url("/c.bin")}});
  WaitUntil(id, [](const nlohmann::json& t) { return t["downloadedBytes"] > 50000; });
  EXPECT_EQ(Send({{"type", "cancel_download"}, {"id", id}}).dump(), R"({"ok":true})");
  EXPECT_EQ(Find(id)["status"], "Cancelled");
  const auto task = WaitUntil(id, [](const nlohmann::json& t) {
    return t["status"] == "Cancelled" && t["downloadedBytes"] == 0;
  });
  EXPECT_TRUE(test::WaitUntil([&] { return !fs::exists(OutputFile("c.bin.segments")); },
                              std::chrono::seconds(10)));
  EXPECT_FALSE(fs::exists(OutputFile("c.bin")));
  Restart();
  EXPECT_EQ(Find(id)["status"], "Cancelled");
}

// A cancelled download keeps no files, whether a run ends the cancel or there
// is none (paused), and a crash right after the cancel cannot bring it back:
// the run's progress reports never take the cancel back.
TEST_F(DownloadCommands, CancelLeavesNoFilesWithOrWithoutARunAndSurvivesACrash) {
  server.SetResource("/slow.bin", Resource(MakeContent(4 * 1024 * 1024), 256 * 1024));
  const std::vector<std::pair<std::string, std::string>> cases = {{"/slow.bin", "Paused"},
                                                                  {"/slow.bin", "Downloading"}};
  int round = 0;
  for (const auto& [path, before] : cases) {
    const std::string name = "c" + std::to_string(++round) + ".bin";
    SCOPED_TRACE(name + " cancelled while " + before);
    const auto id = Enqueue({{"url", server.Url(path)}, {"fileName", name}});
    WaitUntil(id, [](const nlohmann::json& t) {
      return t["downloadedBytes"] > 50000 || t["status"] == "Completed";
    });
    if (before == "Paused") Send({{"type", "pause_download"}, {"id", id}});
    WaitForStatus(id, before);
    EXPECT_EQ(Send({{"type", "cancel_download"}, {"id", id}}).dump(), R"({"ok":true})");
    if (before == "Downloading") {
      service->Kill();
      service = StartService();
    }
    const auto task = WaitUntil(id, [&](const nlohmann::json& t) {
      return t["status"] == "Cancelled" && !fs::exists(OutputFile(name + ".segments"));
    });
    EXPECT_EQ(task["status"], "Cancelled") << task;
    EXPECT_EQ(task["downloadedBytes"], 0) << task;
    EXPECT_FALSE(fs::exists(OutputFile(name)));
  }
}

TEST_F(DownloadCommands, DeleteKeepsOrRemovesTheFinishedFileAndNeverComesBack) {
  server.SetResource("/keep.bin", Resource("kept content"));
  server.SetResource("/drop.bin", Resource("dropped content"));
  const auto keep = Enqueue({{"url", server.Url("/keep.bin")}});
  const auto drop = Enqueue({{"url", server.Url("/drop.bin")}});
  WaitForStatus(keep, "Completed");
  WaitForStatus(drop, "Completed");

  EXPECT_EQ(Send({{"type", "delete_download"}, {"id", keep}}).dump(), R"({"ok":true})");
  EXPECT_EQ(Send({{"type", "delete_download"}, {"id", drop}, {"deleteFile", true}}).dump(),
            R"({"ok":true})");
  EXPECT_EQ(ReadFile(OutputFile("keep.bin")), "kept content");
  EXPECT_FALSE(fs::exists(OutputFile("drop.bin")));
  EXPECT_EQ(List(*service), nlohmann::json::array());
  Restart();
  EXPECT_EQ(List(*service), nlohmann::json::array());
}

TEST_F(DownloadCommands, DeletedRunningDownloadNeverComesBack) {
  server.SetResource("/d.bin", Resource(MakeContent(1024 * 1024), 256 * 1024));
  const auto id = Enqueue({{"url", server.Url("/d.bin")}});
  WaitUntil(id, [](const nlohmann::json& t) { return t["downloadedBytes"] > 0; });
  EXPECT_EQ(Send({{"type", "delete_download"}, {"id", id}, {"deleteFile", true}}).dump(),
            R"({"ok":true})");
  // Reports of the stopping run arrive after the delete; they must be dropped.
  ExpectWhileRunsEnd(id, [](const nlohmann::json& t) { return t.is_null(); });
  EXPECT_EQ(List(*service), nlohmann::json::array());
  Restart();
  EXPECT_EQ(List(*service), nlohmann::json::array());
}

TEST_F(DownloadCommands, RetryOfACompletedDownloadFetchesItAgain) {
  const auto body = MakeContent(50000);
  server.SetResource("/again.bin", Resource(body));
  const auto id = Enqueue({{"url", server.Url("/again.bin")}});
  WaitForStatus(id, "Completed");
  const auto requestsBefore = server.Counters().requests;
  WriteFile(OutputFile("again.bin"), "tampered");

  EXPECT_EQ(Send({{"type", "retry_download"}, {"id", id}}).dump(), R"({"ok":true})");
  WaitForStatus(id, "Completed");
  EXPECT_GT(server.Counters().requests, requestsBefore);
  EXPECT_EQ(ReadFile(OutputFile("again.bin")), body);
}

TEST_F(DownloadCommands, SpeedLimiterReachesARunningDownload) {
  const auto body = MakeContent(3 * 1024 * 1024);
  server.SetResource("/limited.bin", Resource(body));
  const auto id = Enqueue({{"url", server.Url("/limited.bin")},
                           {"useSpeedLimiter", true},
                           {"maxSpeedBytesPerSecond", 256 * 1024}});
  // Limited: once two windows' worth has arrived, only part of the file is there.
  const auto limited =
      WaitUntil(id, [](const nlohmann::json& t) { return t["downloadedBytes"] >= 512 * 1024; });
  EXPECT_EQ(limited["status"], "Downloading");
  EXPECT_LT(limited["downloadedBytes"], 1536 * 1024);

  EXPECT_EQ(Send({{"type", "set_speed_limiter"},
                  {"id", id},
                  {"enabled", false},
                  {"maxSpeedBytesPerSecond", 0}})
                .dump(),
            R"({"ok":true})");
  WaitForStatus(id, "Completed", std::chrono::seconds(10));
  EXPECT_EQ(Sha256Hex(ReadFile(OutputFile("limited.bin"))), Sha256Hex(body));
}

TEST_F(DownloadCommands, SpeedLimiterSwitchedOnDuringARunShowsInTheRate) {
  const auto body = MakeContent(4 * 1024 * 1024 - 1);  // one connection
  server.SetResource("/on.bin", Resource(body, 1024 * 1024));
  const auto id = Enqueue({{"url", server.Url("/on.bin")}});
  WaitUntil(id, [](const nlohmann::json& t) { return t["speedBytesPerSecond"] > 300 * 1024; });

  EXPECT_EQ(Send({{"type", "set_speed_limiter"},
                  {"id", id},
                  {"enabled", true},
                  {"maxSpeedBytesPerSecond", 64 * 1024}})
                .dump(),
            R"({"ok":true})");
  // The next full report interval after the switch shows the limited rate.
  const auto limited = WaitUntil(
      id, [](const nlohmann::json& t) { return t["speedBytesPerSecond"] <= 160 * 1024; },
      std::chrono::seconds(5));
  EXPECT_EQ(limited["status"], "Downloading");

  EXPECT_EQ(Send({{"type", "set_speed_limiter"}, {"id", id}, {"enabled", false}}).dump(),
            R"({"ok":true})");
  WaitForStatus(id, "Completed", std::chrono::seconds(15));
  EXPECT_EQ(Sha256Hex(ReadFile(OutputFile("on.bin"))), Sha256Hex(body));
}

TEST_F(DownloadCommands, ChecksumIsVerifiedAndAMismatchFailsTheDownload) {
  const auto body = MakeContent(70000);
  server.SetResource("/sum.bin", Resource(body));
  auto upper = Sha256Hex(body);
  for (auto& c : upper) c = static_cast<char>(std::toupper(c));
  upper.insert(8, " ");
  const auto good = Enqueue({{"url", server.Url("/sum.bin")},
                             {"fileName", "good.bin"},
                             {"checksumAlgorithm", "SHA256"},
                             {"expectedChecksum", upper}});
  WaitForStatus(good, "Completed");

  const auto bad = Enqueue({{"url", server.Url("/sum.bin")},
                            {"fileName", "bad.bin"},
                            {"expectedChecksum", std::string(64, '0')}});
  const auto failed = WaitForStatus(bad, "Failed");
  EXPECT_EQ(failed["failureReason"], "Checksum verification failed");
  EXPECT_FALSE(fs::exists(OutputFile("bad.bin")));
}

TEST_F(DownloadCommands, ADownloadInterruptedByACrashResumesAfterRestart) {
  const auto body = MakeContent(2 * 1024 * 1024);
  server.SetResource("/crash.bin", Resource(body, 512 * 1024));
  const auto id = Enqueue({{"url", server.Url("/crash.bin")}});
  WaitUntil(id, [](const nlohmann::json& t) { return t["downloadedBytes"] > 400000; });
  service->Kill();
  service = StartService();
  const auto paused = Find(id);
  EXPECT_EQ(paused["status"], "Paused");
  EXPECT_GT(paused["downloadedBytes"], 0);

  server.SetResource("/crash.bin", Resource(body));
  EXPECT_EQ(Send({{"type", "resume_download"}, {"id", id}}).dump(), R"({"ok":true})");
  WaitForStatus(id, "Completed");
  EXPECT_EQ(Sha256Hex(ReadFile(OutputFile("crash.bin"))), Sha256Hex(body));
}

// Progress is saved in batches, status changes at once: a kill loses at most
// the progress of the last couple of seconds and no status change.
TEST_F(DownloadCommands, AKillLosesNoStatusChangeAndOnlyRecentProgress) {
  const auto body = MakeContent(3 * 1024 * 1024);
  server.SetResource("/slow.bin", Resource(body, 512 * 1024));
  server.SetResource("/small.bin", Resource(MakeContent(5000)));
  const auto slow = Enqueue({{"url", server.Url("/slow.bin")}});
  const auto done = Enqueue({{"url", server.Url("/small.bin")}});
  const auto paused = Enqueue({{"url", server.Url("/slow.bin")}, {"fileName", "p.bin"}});
  EXPECT_EQ(Send({{"type", "pause_download"}, {"id", paused}}).dump(), R"({"ok":true})");
  WaitForStatus(done, "Completed");
  const std::int64_t early =
      WaitUntil(slow, [](const nlohmann::json& t) { return t["downloadedBytes"] > 300000; })
          ["downloadedBytes"];
  // Two and a half seconds of transfer later.
  WaitUntil(slow, [&](const nlohmann::json& t) {
    return t["downloadedBytes"] >= early + 1280 * 1024;
  });
  service->Kill();
  service = StartService();
  EXPECT_EQ(Find(slow)["status"], "Paused");
  EXPECT_GE(Find(slow)["downloadedBytes"], early);
  EXPECT_EQ(Find(paused)["status"], "Paused");
  EXPECT_EQ(Find(done)["status"], "Completed");
}

// Beyond the bound, downloads wait as Queued and obey commands as queued ones.
TEST_F(DownloadCommands, DownloadsBeyondTheBoundWaitQueued) {
  EXPECT_EQ(service->Stop(), 0) << service->Errors();
  service = StartService({{"VARNEL_MAX_ACTIVE_DOWNLOADS", "1"}});
  const auto body = MakeContent(1024 * 1024);
  server.SetResource("/a.bin", Resource(body, 1024 * 1024));
  const auto first = Enqueue({{"url", server.Url("/a.bin")}});
  const auto second = Enqueue({{"url", server.Url("/a.bin")}, {"fileName", "b.bin"}});
  const auto third = Enqueue({{"url", server.Url("/a.bin")}, {"fileName", "c.bin"}});
  WaitUntil(first, [](const nlohmann::json& t) { return t["downloadedBytes"] > 0; });
  EXPECT_EQ(Find(second)["status"], "Queued");
  EXPECT_EQ(Send({{"type", "pause_download"}, {"id", second}}).dump(), R"({"ok":true})");
  WaitForStatus(third, "Completed");
  EXPECT_EQ(Find(first)["status"], "Completed");
  EXPECT_EQ(Find(second)["status"], "Paused");
  EXPECT_EQ(Send({{"type", "resume_download"}, {"id", second}}).dump(), R"({"ok":true})");
  WaitForStatus(second, "Completed");
  EXPECT_EQ(ReadFile(OutputFile("b.bin")), body);
}

TEST_F(DownloadCommands, ACleanStopDuringADownloadKeepsItsProgress) {
  const auto body = MakeContent(2 * 1024 * 1024);
  server.SetResource("/stop.bin", Resource(body, 512 * 1024));
  const auto id = Enqueue({{"url", server.Url("/stop.bin")}});
  WaitUntil(id, [](const nlohmann::json& t) { return t["downloadedBytes"] > 300000; });
  EXPECT_EQ(service->Stop(std::chrono::seconds(5)), 0) << service->Errors();
  EXPECT_FALSE(fs::exists(SocketPath()));

  service = StartService();
  const auto paused = Find(id);
  EXPECT_EQ(paused["status"], "Paused");
  EXPECT_GT(paused["downloadedBytes"], 0);
  server.SetResource("/stop.bin", Resource(body));
  EXPECT_EQ(Send({{"type", "resume_download"}, {"id", id}}).dump(), R"({"ok":true})");
  WaitForStatus(id, "Completed");
  EXPECT_EQ(Sha256Hex(ReadFile(OutputFile("stop.bin"))), Sha256Hex(body));
}

TEST_F(DownloadCommands, AStoredQueuedDownloadStartsAtStartUp) {
  const auto body = MakeContent(3000);
  server.SetResource("/queued.bin", Resource(body));
  service->Stop();
  {
    StoredDownloads db(DataRoot() / "data" / "downloads.db");
    db.AddTask("dl_5", "Queued", downloads.path(), "queued.bin", 0, 0);
    db.Exec("UPDATE downloads SET url = '" + server.Url("/queued.bin") + "' WHERE id = 'dl_5';");
  }
  service = StartService();
  WaitForStatus("dl_5", "Completed");
  EXPECT_EQ(ReadFile(OutputFile("queued.bin")), body);
}

TEST_F(DownloadCommands, ZeroBytesInPathsAreRefusedBeforeAnythingHappens) {
  server.SetResource("/f.bin", Resource(MakeContent(1000)));
  WriteFile(OutputFile("keep.txt"), "mine");
  WriteFile(OutputFile("a/inside.txt"), "mine");
  const std::string zero(1, '\0');
  const std::string out = downloads.path().string();
  const std::string magnet = "magnet:?xt=urn:btih:0123456789abcdef0123456789abcdef01234567";
  const std::vector<std::pair<nlohmann::json, std::string>> cases = {
      {{{"fileName", zero}}, "Invalid file name"},
      {{{"fileName", "a" + zero + "b"}}, "Invalid file name"},
      {{{"outputPath", out + zero}}, "Invalid file name"},
      {{{"url", server.Url("/f.bin") + zero}}, "Invalid download URL"},
      {{{"type", "enqueue_torrent"}, {"magnet", magnet + zero}}, "Invalid magnet link: "},
      {{{"type", "enqueue_torrent"}, {"torrentFilePath", out + zero}},
       "Could not read .torrent file: "},
      {{{"type", "enqueue_torrent"}, {"magnet", magnet}, {"outputPath", out + zero}},
       "Invalid file name"},
  };
  for (const auto& [arguments, error] : cases) {
    nlohmann::json request = {
        {"type", "enqueue_download"}, {"url", server.Url("/f.bin")}, {"outputPath", out}};
    request.update(arguments);
    const auto answer = Send(request);
    EXPECT_EQ(answer["ok"], false) << request;
    EXPECT_EQ(answer.value("error", "").rfind(error, 0), 0u) << answer;
  }
  EXPECT_EQ(List(*service), nlohmann::json::array());
  EXPECT_EQ(ReadFile(OutputFile("keep.txt")), "mine");
  EXPECT_EQ(ReadFile(OutputFile("a/inside.txt")), "mine");
}

TEST_F(DownloadCommands, StoredZeroByteNamesFailAndTouchNothing) {
  WriteFile(OutputFile("a/inside.txt"), "mine");
  EXPECT_EQ(service->Stop(), 0);
  {
    StoredDownloads db(DataRoot() / "data" / "downloads.db");
    db.AddTask("dl_1", "Queued", downloads.path(), "zero", 1000, 0);
    db.Exec("UPDATE downloads SET file_name = 'a' || char(0) || 'b' WHERE id = 'dl_1';");
  }
  service = StartService();
  EXPECT_EQ(Find("dl_1")["status"], "Failed");
  EXPECT_EQ(Find("dl_1")["failureReason"], "Invalid file name");
  for (const std::string type : {"resume_download", "retry_download", "delete_download"}) {
    EXPECT_EQ(Send({{"type", type}, {"id", "dl_1"}, {"deleteFile", true}})["ok"], true) << type;
    if (type != "delete_download") WaitForStatus("dl_1", "Failed");
    EXPECT_EQ(ReadFile(OutputFile("a/inside.txt")), "mine") << type;
  }
}

TEST_F(DownloadCommands, DownloadsNeverShareAFileNorTakeTheUsers) {
  const auto body = MakeContent(5 * 1024 * 1024);
  const auto other = MakeContent(5 * 1024 * 1024, 2);
  server.SetResource("/f.bin", Resource(body));
  server.SetResource("/mirror/f.bin", Resource(other));
  server.SetResource("/slow/late.bin", Resource(body, 512 * 1024));
  WriteFile(OutputFile("f.bin"), "the user's own file");

  const auto first = Enqueue({{"url", server.Url("/f.bin")}});
  const auto second = Enqueue({{"url", server.Url("/f.bin")}});
  const auto third = Enqueue({{"url", server.Url("/mirror/f.bin")}});
  const auto late = Enqueue({{"url", server.Url("/slow/late.bin")}});
  // A file that appears at a download's name while it runs is not overwritten.
  WriteFile(OutputFile("late.bin"), "made meanwhile");
  const std::vector<std::pair<std::string, std::string>> expected = {
      {first, "f (1).bin"}, {second, "f (2).bin"}, {third, "f (3).bin"}};
  for (const auto& [id, name] : expected) {
    EXPECT_EQ(WaitForStatus(id, "Completed")["fileName"], name);
    EXPECT_EQ(Sha256Hex(ReadFile(OutputFile(name))), Sha256Hex(id == third ? other : body));
  }
  EXPECT_EQ(ReadFile(OutputFile("f.bin")), "the user's own file");

  EXPECT_EQ(WaitForStatus(late, "Failed")["failureReason"], "Failed to create final output file");
  EXPECT_EQ(ReadFile(OutputFile("late.bin")), "made meanwhile");

  // A completed download that runs again replaces its own file; a restart keeps the names.
  Send({{"type", "pause_download"}, {"id", first}});
  Send({{"type", "resume_download"}, {"id", first}});
  WaitForStatus(first, "Completed");
  Restart();
  for (const auto& [id, name] : expected) EXPECT_EQ(Find(id)["fileName"], name);
}

}  // namespace
}  // namespace vn::test

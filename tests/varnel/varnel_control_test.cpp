#include <string>

#include "tests/varnel/varnel_fixture.h"

namespace vn::test {
namespace {

class VarnelControl : public VarnelTest {
 protected:
  // Runs varnel and expects success with plain output.
  std::string Succeed(const std::vector<std::string>& arguments) {
    const auto result = RunVarnel(arguments);
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_EQ(result.errors, "");
    EXPECT_FALSE(HasControlCharacters(result.output));
    return result.output;
  }

  std::string AddSlowDownload() {
    const auto added = RunVarnel({"add", SlowUrl(), "-o", work.path().string()});
    EXPECT_EQ(added.exitCode, 0) << added.errors;
    return FirstLine(added.output);
  }

  TempFolder work;
};

TEST_F(VarnelControl, PauseResumeLimitCancelRetryAndDeleteReachTheService) {
  const std::string id = AddSlowDownload();
  ASSERT_TRUE(WaitFor(id, [](const nlohmann::json& task) {
    return task["status"] == "Downloading" && task["downloadedBytes"] > 0;
  })) << TaskOf(id);

  EXPECT_EQ(Succeed({"pause", id}), "Paused " + id + ".\n");
  EXPECT_EQ(StatusOf(id), "Paused");

  EXPECT_EQ(Succeed({"resume", id}), "Resumed " + id + ".\n");
  EXPECT_NE(StatusOf(id), "Paused");
  EXPECT_TRUE(WaitForStatus(id, "Downloading")) << StatusOf(id);

  EXPECT_EQ(Succeed({"limit", id, "100K"}), "Limited " + id + " to 100 KiB/s.\n");
  EXPECT_EQ(Succeed({"limit", id, "off"}), "Removed the speed limit of " + id + ".\n");
  EXPECT_EQ(Succeed({"limit", "--global", "5M"}), "Limited all downloads together to 5 MiB/s.\n");
  EXPECT_EQ(Succeed({"limit", "--global", "off"}), "Removed the global speed limit.\n");
  EXPECT_EQ(RunVarnel({"limit", "--global", "0"}).exitCode, 2);
  EXPECT_EQ(StatusOf(id), "Downloading");

  EXPECT_EQ(Succeed({"cancel", id}), "Cancelled " + id + ".\n");
  EXPECT_EQ(StatusOf(id), "Cancelled");
  // The run reports its own end (counts cleared) a moment later; a retry
  // before that would have its status overwritten by that report.
  ASSERT_TRUE(WaitFor(id, [](const nlohmann::json& task) {
    return task["status"] == "Cancelled" && task["downloadedBytes"] == 0;
  })) << TaskOf(id);

  EXPECT_EQ(Succeed({"retry", id}), "Restarted " + id + ".\n");
  EXPECT_NE(StatusOf(id), "Cancelled");
  EXPECT_TRUE(WaitForStatus(id, "Downloading")) << StatusOf(id);

  EXPECT_EQ(Succeed({"delete", id}), "Deleted " + id + ".\n");
  EXPECT_TRUE(TaskOf(id).is_null());
}

TEST_F(VarnelControl, DeleteKeepsTheFinishedFileUnlessAskedToRemoveIt) {
  http.SetResource("/keep.bin", Serving(MakeContent(20000, 8)));
  const auto kept = RunVarnel(
      {"add", http.Url("/keep.bin"), "-o", work.path().string(), "-O", "kept.bin", "--wait"});
  ASSERT_EQ(kept.exitCode, 0) << kept.errors;
  const auto gone = RunVarnel(
      {"add", http.Url("/keep.bin"), "-o", work.path().string(), "-O", "gone.bin", "--wait"});
  ASSERT_EQ(gone.exitCode, 0) << gone.errors;

  Succeed({"delete", FirstLine(kept.output)});
  EXPECT_EQ(Succeed({"delete", FirstLine(gone.output), "--delete-file"}),
            "Deleted " + FirstLine(gone.output) + " and its file.\n");

  EXPECT_TRUE(std::filesystem::exists(work.path() / "kept.bin"));
  EXPECT_FALSE(std::filesystem::exists(work.path() / "gone.bin"));
  EXPECT_EQ(List(*service).size(), 0u);
}

TEST_F(VarnelControl, UnknownIdsAreRefusedWithTheServicesTextAndExitFour) {
  for (const char* verb : {"pause", "resume", "cancel", "retry", "delete"}) {
    const auto result = RunVarnel({verb, "NOSUCH"});
    EXPECT_EQ(result.exitCode, 4) << verb;
    EXPECT_EQ(result.errors, "varnel: Task not found\n") << verb;
    EXPECT_EQ(result.output, "") << verb;
  }
  const auto limit = RunVarnel({"limit", "NOSUCH", "1M"});
  EXPECT_EQ(limit.exitCode, 4);
  EXPECT_EQ(limit.errors, "varnel: Task not found\n");

  // Torrent control commands are refused without a text of the service's own.
  const auto torrent = RunVarnel({"pause", "tor_1_1"});
  EXPECT_EQ(torrent.exitCode, 4);
  EXPECT_EQ(torrent.errors,
            "varnel: the service could not pause torrent tor_1_1 (no such torrent, or the "
            "torrent engine is not running)\n");
}

// SIGTERM ends the waiting as Ctrl-C does, and is named: the user did not type it.
TEST_F(VarnelControl, CtrlCStopsWaitingButTheDownloadGoesOn) {
  struct Case {
    bool terminate;
    int exitCode;
    const char* said;
  };
  for (const Case& c : {Case{false, 130, "stopped waiting"},
                        Case{true, 143, "stopped waiting on SIGTERM"}}) {
    ClientProcess waiting({"add", SlowUrl(), "-o", work.path().string(), "--wait"});
    // The id line, then the first progress line, which begins with the id too.
    ASSERT_TRUE(waiting.WaitForOutput("\ndl_", std::chrono::seconds(20))) << waiting.Output();
    const std::string id = FirstLine(waiting.Output());
    c.terminate ? waiting.Terminate() : waiting.Interrupt();
    const auto result = waiting.Finish(std::chrono::seconds(20));

    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(result.errors, "varnel: " + std::string(c.said) + "; download " + id +
                                 " goes on in the service (see `varnel list`)\n");
    EXPECT_FALSE(HasControlCharacters(result.output)) << result.output;
    const std::string status = StatusOf(id);
    EXPECT_TRUE(status == "Queued" || status == "Starting" || status == "Downloading") << status;
  }
}

TEST_F(VarnelControl, WaitingEndsWithExitThreeWhenTheServiceGoesAway) {
  ClientProcess waiting({"add", SlowUrl(), "-o", work.path().string(), "--wait"});
  ASSERT_TRUE(waiting.WaitForOutput("\ndl_", std::chrono::seconds(20))) << waiting.Output();
  EXPECT_EQ(service->Stop(), 0);
  service.reset();

  const auto result = waiting.Finish(std::chrono::seconds(30));
  EXPECT_EQ(result.exitCode, 3);
  // Depending on when the poll meets the stopping service: "is not running", or
  // "gave no answer" for a connection closed mid-request.
  EXPECT_NE(result.errors.find("the download service "), std::string::npos) << result.errors;
  // Never the advice to start the service as if it had never run: the wait was
  // cut short, and the id lets the user find the download again.
  const std::string id = FirstLine(result.output);
  EXPECT_EQ(result.errors.rfind("varnel: waiting for download " + id + " was interrupted: ", 0),
            0u)
      << result.errors;
  EXPECT_NE(result.errors.find("`varnel list`"), std::string::npos) << result.errors;
}

TEST_F(VarnelControl, WatchShowsTheListUntilCtrlC) {
  const std::string id = AddSlowDownload();
  ClientProcess watching({"watch"});
  ASSERT_TRUE(watching.WaitForOutput(id, std::chrono::seconds(20))) << watching.Output();
  watching.Interrupt();
  const auto result = watching.Finish(std::chrono::seconds(20));

  EXPECT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_EQ(result.output.rfind("ID", 0), 0u) << result.output;
  EXPECT_FALSE(HasControlCharacters(result.output)) << result.output;
}

TEST_F(VarnelControl, RefreshGivesAnExpiredLinkANewUrlAndFetchesOnlyTheRest) {
  const std::string body = MakeContent(4 << 20, 5);
  ResourceOptions expiring = Serving(body);
  expiring.etag = "\"v1\"";
  expiring.dropAfterBytes = 128 << 10;  // answers break off, so segments ask again
  expiring.failFromRequest = 12;        // until the link has expired
  expiring.failStatus = 403;
  http.SetResource("/signed.bin", expiring);
  ResourceOptions fresh = Serving(body);
  fresh.etag = "\"v1\"";
  http.SetResource("/fresh.bin", fresh);

  const auto added = RunVarnel({"add", http.Url("/signed.bin"), "-o", work.path().string(), "-x", "4"});
  const std::string id = FirstLine(added.output);
  ASSERT_TRUE(WaitForStatus(id, "Failed")) << TaskOf(id);
  const auto failed = TaskOf(id);
  EXPECT_EQ(failed["failureReason"], "Segment download failed: Server returned HTTP 403");
  const std::int64_t kept = failed["downloadedBytes"];
  EXPECT_GT(kept, 0);

  http.ResetCounters();
  EXPECT_EQ(Succeed({"refresh", id, http.Url("/fresh.bin")}),
            "Resumed " + id + " from its new URL.\n");
  ASSERT_TRUE(WaitForStatus(id, "Completed")) << TaskOf(id);
  EXPECT_EQ(TaskOf(id)["url"], http.Url("/fresh.bin"));
  EXPECT_EQ(ReadFile(work.path() / "signed.bin"), body);
  // The probe's one byte, then only what was missing.
  EXPECT_EQ(http.Counters().bodyBytesSent, 1 + (4 << 20) - kept);

  const auto running = RunVarnel({"refresh", AddSlowDownload(), http.Url("/fresh.bin")});
  EXPECT_EQ(running.exitCode, 4);
  EXPECT_NE(running.errors.find("Download is running"), std::string::npos) << running.errors;
}

}  // namespace
}  // namespace vn::test

// Whole downloads through the engine against the loopback server.
#include "apps/service/engine/download_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <set>
#include <thread>
#include <utility>

#include "apps/service/engine/partial_files.h"
#include "tests/engine/engine_test_support.h"
#include "tests/engine/fake_wait_clock.h"
#include "tests/http_server/http_test_server.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/test_environment.h"
#include "tests/support/wait_until.h"

namespace vn {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using test::ReportLog;

constexpr std::int64_t kMiB = 1048576;

// A paused run's connection may still be sending for a moment after the
// client let go; waits (bounded) until the server's byte count stands still.
void WaitForQuietServer(const test::HttpTestServer& server) {
  std::int64_t last = -1;
  test::WaitUntil(
      [&] {
        const std::int64_t previous = std::exchange(last, server.Counters().bodyBytesSent);
        return previous == last;
      },
      milliseconds(2000), milliseconds(50));
}

using test::FileSizeLimit;

class DownloadEngineTest : public ::testing::Test {
 protected:
  DownloadEngineTest() { engine.SetTaskUpdateCallback(log->Callback()); }

  DownloadTask Task(const std::string& fileName = "file.bin", int connections = 8) {
    return test::MakeTask(server.Url("/file.bin"), folder.path(), fileName, connections);
  }
  DownloadTask RunToEnd(const DownloadTask& task, int n = 1) {
    engine.Queue(task);
    const auto end = log->WaitForEnd(n);
    if (!end) throw std::runtime_error("download did not end in time");
    return *end;
  }
  std::optional<DownloadTask> WaitForProgress(std::int64_t atLeast) {
    return log->WaitFor([&](const DownloadTask& report) {
      return report.status == DownloadStatus::Downloading && report.downloadedBytes >= atLeast;
    });
  }
  std::string FinalFile(const DownloadTask& task) { return test::ReadFile(FinalFilePath(task)); }

  // Runs that wait out an outage give up after ten minutes without a byte;
  // tests that go that far wait on this clock, which costs no time.
  void WaitOnFakeClock() { engine.SetWaitClock(clock); }
  // Whether any report so far listed the download Failed.
  bool EverFailed() const {
    const auto reports = log->Reports();
    return std::any_of(reports.begin(), reports.end(), [](const DownloadTask& report) {
      return report.status == DownloadStatus::Failed;
    });
  }

  test::HttpTestServer server;
  test::TempFolder folder;
  test::FakeWaitClock clock;
  std::shared_ptr<ReportLog> log = ReportLog::Create();
  DownloadEngine engine;
};

TEST_F(DownloadEngineTest, DownloadCompletesWithItsDigest) {
  const std::string body = test::MakeContent(1 * kMiB + 7);
  server.SetResource("/file.bin", {.body = body, .etag = "\"v1\""});
  const DownloadTask task = Task();
  engine.Queue(task);
  EXPECT_TRUE(engine.IsRunning(task.id));
  const auto end = log->WaitForEnd();
  ASSERT_TRUE(end);
  EXPECT_EQ(end->status, DownloadStatus::Completed) << end->failureReason;
  EXPECT_EQ(FinalFile(task), body);
  EXPECT_EQ(end->totalBytes, 1 * kMiB + 7);
  EXPECT_EQ(end->downloadedBytes, 1 * kMiB + 7);
  EXPECT_EQ(end->actualChecksum, test::Sha256Hex(body));
  EXPECT_EQ(end->checksumAlgorithm, "SHA256");
  EXPECT_EQ(end->etag, "\"v1\"");
  EXPECT_TRUE(end->segments.empty());
  EXPECT_EQ(end->finalizeTotal, 0);
  EXPECT_FALSE(std::filesystem::exists(SegmentsFolder(task)));
  EXPECT_TRUE(test::WaitUntilNotRunning(engine, task.id));

  const auto reports = log->Reports();
  ASSERT_GE(reports.size(), 3u);
  EXPECT_EQ(reports[0].status, DownloadStatus::Downloading);
  EXPECT_EQ(reports[0].connectionCount, 1);
  EXPECT_EQ(reports[reports.size() - 2].status, DownloadStatus::Verifying);
  EXPECT_EQ(reports[reports.size() - 2].finalizeTotal, 2 * (1 * kMiB + 7));
}

TEST_F(DownloadEngineTest, SmallFilesUseOneConnection) {
  server.SetResource(
      "/file.bin", {.body = test::MakeContent(3 * kMiB), .bytesPerSecondPerConnection = 16 * kMiB});
  const DownloadTask end = RunToEnd(Task("file.bin", 8));
  EXPECT_EQ(end.status, DownloadStatus::Completed) << end.failureReason;
  EXPECT_EQ(end.connectionCount, 1);
  // The probe's connection carries the one segment.
  EXPECT_EQ(server.Counters().connectionsAccepted, 1);
}

TEST_F(DownloadEngineTest, TenMiBUsesAtLeastEightConnections) {
  const std::string body = test::MakeContent(10 * kMiB);
  server.SetResource("/file.bin", {.body = body, .bytesPerSecondPerConnection = 4 * kMiB});
  const DownloadTask task = Task("file.bin", 1);
  const DownloadTask end = RunToEnd(task);
  EXPECT_EQ(end.status, DownloadStatus::Completed) << end.failureReason;
  EXPECT_EQ(end.connectionCount, 8);
  // Eight connections were open at once; the probe's may wait idle in the pool
  // beside them, so the bound on what runs at once counts ranges in flight. The
  // server counts an answer as done only after its thread runs again, so under
  // load a range that follows a finished one may overlap it by one.
  EXPECT_GE(server.Counters().maxConcurrentConnections, 8);
  EXPECT_LE(server.Counters().maxConcurrentRequests, 9);
  EXPECT_EQ(end.actualChecksum, test::Sha256Hex(body));
}

TEST_F(DownloadEngineTest, SixtyFourMiBWithSixteenConnectionsMatchesItsDigest) {
  const std::string body = test::MakeContent(64 * kMiB, 7);
  server.SetResource("/file.bin", {.body = body});
  DownloadTask task = Task("big.bin", 16);
  task.expectedChecksum = test::Sha256Hex(body);
  const DownloadTask end = RunToEnd(task);
  EXPECT_EQ(end.status, DownloadStatus::Completed) << end.failureReason;
  EXPECT_EQ(end.connectionCount, 16);
  EXPECT_EQ(end.actualChecksum, test::Sha256Hex(body));
  EXPECT_EQ(std::filesystem::file_size(FinalFilePath(task)),
            static_cast<std::uintmax_t>(64 * kMiB));
}

TEST_F(DownloadEngineTest, WithoutRangesOneConnectionFetchesOneSegment) {
  const std::string body = test::MakeContent(5 * kMiB);
  server.SetResource("/file.bin", {.body = body, .rangeSupport = false});
  const DownloadTask end = RunToEnd(Task("file.bin", 16));
  EXPECT_EQ(end.status, DownloadStatus::Completed) << end.failureReason;
  EXPECT_EQ(end.connectionCount, 1);
  EXPECT_EQ(end.totalBytes, 5 * kMiB);
  const auto reports = log->Reports();
  EXPECT_EQ(reports.front().segments.size(), 1u);
  EXPECT_EQ(server.Counters().requests, 2);
  EXPECT_EQ(server.LastRequestHeader("/file.bin", "Range"), "bytes=0-5242879");
  EXPECT_EQ(end.actualChecksum, test::Sha256Hex(body));
}

TEST_F(DownloadEngineTest, UnknownTotalInContentRangeMeansUnknownSize) {
  const std::string body = test::MakeContent(300000);
  server.SetResource("/file.bin", {.body = body, .contentRangeTotalUnknown = true});
  const DownloadTask task = Task();
  const DownloadTask end = RunToEnd(task);
  EXPECT_EQ(end.status, DownloadStatus::Completed) << end.failureReason;
  EXPECT_EQ(end.totalBytes, 0);
  EXPECT_EQ(end.connectionCount, 1);
  EXPECT_EQ(FinalFile(task), body);
}

TEST_F(DownloadEngineTest, ChunkedBodyOfUnknownSizeStartsOverAfterABreak) {
  const std::string body = test::MakeContent(700000);
  // The probe's answer is the first of the two cut responses.
  server.SetResource("/file.bin", {.body = body,
                                   .rangeSupport = false,
                                   .sendContentLength = false,
                                   .dropAfterBytes = 200000,
                                   .dropResponses = 2});
  const DownloadTask task = Task();
  const DownloadTask end = RunToEnd(task);
  EXPECT_EQ(end.status, DownloadStatus::Completed) << end.failureReason;
  EXPECT_EQ(FinalFile(task), body);
  EXPECT_EQ(end.downloadedBytes, 700000);
}

TEST_F(DownloadEngineTest, TruncatedBodyOfUnknownSizeNeverCompletes) {
  WaitOnFakeClock();
  server.SetResource("/file.bin", {.body = test::MakeContent(700000),
                                   .rangeSupport = false,
                                   .sendContentLength = false,
                                   .dropAfterBytes = 200000});
  const DownloadTask task = Task();
  const DownloadTask end = RunToEnd(task);
  EXPECT_EQ(end.status, DownloadStatus::Failed);
  EXPECT_EQ(end.failureReason, "Segment download failed: Failed while reading segment data");
  EXPECT_FALSE(std::filesystem::exists(FinalFilePath(task)));
}

TEST_F(DownloadEngineTest, EmptyResourcesCompleteAsEmptyFiles) {
  server.SetResource("/file.bin", {.body = ""});  // a range probe gets 416 "bytes */0"
  const DownloadTask ranged = Task("ranged.bin");
  const DownloadTask first = RunToEnd(ranged, 1);
  EXPECT_EQ(first.status, DownloadStatus::Completed) << first.failureReason;
  EXPECT_EQ(first.actualChecksum, test::Sha256Hex(""));
  EXPECT_EQ(FinalFile(ranged), "");

  server.SetResource("/file.bin", {.body = "", .rangeSupport = false});
  const DownloadTask plain = Task("plain.bin");
  const DownloadTask second = RunToEnd(plain, 2);
  EXPECT_EQ(second.status, DownloadStatus::Completed) << second.failureReason;
  EXPECT_TRUE(std::filesystem::exists(FinalFilePath(plain)));
  EXPECT_EQ(FinalFile(plain), "");
}

TEST_F(DownloadEngineTest, PauseKeepsProgressAndResumeFetchesOnlyTheRest) {
  const std::string body = test::MakeContent(3 * kMiB);
  test::ResourceOptions slow{
      .body = body, .etag = "\"v1\"", .bytesPerSecondPerConnection = 2 * kMiB};
  server.SetResource("/file.bin", slow);
  const DownloadTask task = Task();
  engine.Queue(task);
  ASSERT_TRUE(WaitForProgress(1));
  engine.Pause(task.id);
  const auto paused = log->WaitForEnd();
  ASSERT_TRUE(paused);
  ASSERT_EQ(paused->status, DownloadStatus::Paused) << paused->failureReason;
  ASSERT_GT(paused->downloadedBytes, 0);
  ASSERT_LT(paused->downloadedBytes, 3 * kMiB);
  EXPECT_EQ(
      static_cast<std::int64_t>(std::filesystem::file_size(PartFilePath(SegmentsFolder(task), 0))),
      paused->downloadedBytes);
  ASSERT_TRUE(test::WaitUntilNotRunning(engine, task.id));

  slow.bytesPerSecondPerConnection = 0;
  server.SetResource("/file.bin", slow);
  WaitForQuietServer(server);
  server.ResetCounters();
  const DownloadTask end = RunToEnd(*paused, 2);
  EXPECT_EQ(end.status, DownloadStatus::Completed) << end.failureReason;
  EXPECT_EQ(FinalFile(task), body);
  // The probe's one byte plus the bytes that were missing.
  EXPECT_EQ(server.Counters().bodyBytesSent, 3 * kMiB - paused->downloadedBytes + 1);
}

class ChangedResourceTest : public DownloadEngineTest {
 protected:
  DownloadTask PauseHalfway(const std::string& body) {
    server.SetResource("/file.bin",
                       {.body = body, .etag = "\"v1\"", .bytesPerSecondPerConnection = 2 * kMiB});
    const DownloadTask task = Task();
    engine.Queue(task);
    EXPECT_TRUE(WaitForProgress(1));
    engine.Pause(task.id);
    const auto paused = log->WaitForEnd();
    EXPECT_TRUE(paused && paused->status == DownloadStatus::Paused);
    EXPECT_TRUE(test::WaitUntilNotRunning(engine, task.id));
    WaitForQuietServer(server);
    server.ResetCounters();
    return paused.value_or(task);
  }
};

TEST_F(ChangedResourceTest, ChangedEtagDiscardsProgress) {
  const std::string body = test::MakeContent(3 * kMiB);
  const DownloadTask paused = PauseHalfway(body);
  server.SetResource("/file.bin", {.body = body, .etag = "\"v2\""});
  const DownloadTask end = RunToEnd(paused, 2);
  EXPECT_EQ(end.status, DownloadStatus::Completed) << end.failureReason;
  EXPECT_EQ(end.etag, "\"v2\"");
  EXPECT_EQ(server.Counters().bodyBytesSent, 3 * kMiB + 1);
  EXPECT_EQ(FinalFile(paused), body);
}

TEST_F(ChangedResourceTest, ChangedSizeDiscardsProgress) {
  const DownloadTask paused = PauseHalfway(test::MakeContent(3 * kMiB));
  const std::string longer = test::MakeContent(3 * kMiB + 100, 9);
  server.SetResource("/file.bin", {.body = longer, .etag = "\"v1\""});
  const DownloadTask end = RunToEnd(paused, 2);
  EXPECT_EQ(end.status, DownloadStatus::Completed) << end.failureReason;
  EXPECT_EQ(FinalFile(paused), longer);
}

TEST_F(DownloadEngineTest, ProbeRetriesServerErrorsThenProceeds) {
  const std::string body = test::MakeContent(1000);
  server.SetResource("/file.bin", {.body = body, .failFirstRequests = 3, .failStatus = 503});
  const auto started = steady_clock::now();
  const DownloadTask end = RunToEnd(Task());
  EXPECT_EQ(end.status, DownloadStatus::Completed) << end.failureReason;
  EXPECT_GE(steady_clock::now() - started, milliseconds(2300));  // 400 + 800 + 1,200 ms
  EXPECT_EQ(server.Counters().requests, 5);
}

TEST_F(DownloadEngineTest, FourServerErrorsFailTheProbe) {
  // Four errors end the probe, but not the run: it waits a second and probes
  // again; only ten minutes of errors fail it.
  WaitOnFakeClock();
  server.SetResource("/file.bin", {.body = "x", .failFirstRequests = 4, .failStatus = 503});
  DownloadTask end = RunToEnd(Task());
  EXPECT_EQ(end.status, DownloadStatus::Completed) << end.failureReason;
  EXPECT_EQ(server.Counters().requests, 6);  // five probes, one segment
  EXPECT_EQ(clock.Waited(), milliseconds(2400 + 1000));

  server.SetResource("/file.bin", {.body = "x", .failFirstRequests = 1 << 30, .failStatus = 503});
  end = RunToEnd(Task("other.bin"), 2);
  EXPECT_EQ(end.status, DownloadStatus::Failed);
  EXPECT_EQ(end.failureReason, "Server returned HTTP 503");
  EXPECT_GE(clock.Waited(), std::chrono::minutes(10));
}

TEST_F(DownloadEngineTest, TransientFailuresAreWaitedOutPermanentOnesFailAtOnce) {
  WaitOnFakeClock();
  struct Case {
    test::ResourceOptions resource;
    DownloadStatus status;
    milliseconds waited;
    std::string failure;
    bool waitedAtLeast = false;  // waited is a minimum, not the exact sum
  };
  const std::string body = test::MakeContent(1000);
  const Case cases[] = {
      // Four probes fail (2.4 s), the server's 120 s pause, one more fails.
      {{.body = body, .failFirstRequests = 5, .failStatus = 503, .retryAfter = "120"},
       DownloadStatus::Completed, milliseconds(2400 + 120000 + 400), ""},
      // A server's wish beyond five minutes is cut to five.
      {{.body = body, .failFirstRequests = 4, .failStatus = 429, .retryAfter = "3600"},
       DownloadStatus::Completed, milliseconds(2400 + 300000), ""},
      // After the probe every request fails: ten minutes, then the latest error.
      {{.body = body, .failStatus = 503, .failFromRequest = 1}, DownloadStatus::Failed,
       std::chrono::minutes(10), "Server returned HTTP 503", true},
      // 403 is no outage: eight attempts of the segment, 150 ms apart, and done.
      {{.body = body, .failStatus = 403, .failFromRequest = 1}, DownloadStatus::Failed,
       milliseconds(7 * 150), "Segment download failed: Server returned HTTP 403"},
  };
  int ends = 0;
  for (const Case& c : cases) {
    server.SetResource("/file.bin", c.resource);
    const milliseconds before = clock.Waited();
    const DownloadTask task = Task("file" + std::to_string(ends) + ".bin");
    const DownloadTask end = RunToEnd(task, ++ends);
    EXPECT_EQ(end.status, c.status) << ends;
    EXPECT_EQ(end.failureReason, c.failure) << ends;
    const milliseconds waited = clock.Waited() - before;
    if (c.waitedAtLeast) {
      EXPECT_GE(waited, c.waited) << ends;
    } else {
      EXPECT_EQ(waited, c.waited) << ends;
    }
    if (c.status == DownloadStatus::Completed) {
      EXPECT_FALSE(EverFailed()) << ends;
      // While it waited, the run was listed downloading at no speed.
      EXPECT_TRUE(log->WaitFor([&](const DownloadTask& report) {
        return report.id == task.id && report.status == DownloadStatus::Downloading &&
               report.downloadedBytes == 0 && report.speedBytesPerSecond == 0;
      }));
    }
  }
}

TEST_F(DownloadEngineTest, PauseAndCancelEndAWaitAtOnce) {
  // The server asks for five minutes; the run's end comes far sooner.
  int ends = 0;
  for (const bool pause : {true, false}) {
    server.SetResource("/file.bin", {.body = "x",
                                     .failStatus = 503,
                                     .failFromRequest = 0,
                                     .retryAfter = "300"});
    const DownloadTask task = Task(pause ? "paused.bin" : "cancelled.bin");
    engine.Queue(task);
    ASSERT_TRUE(log->WaitFor([&](const DownloadTask& report) {
      return report.id == task.id && report.status == DownloadStatus::Downloading;
    }));
    pause ? engine.Pause(task.id) : void(engine.Cancel(task.id));
    const auto end = log->WaitForEnd(++ends);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->status, pause ? DownloadStatus::Paused : DownloadStatus::Cancelled);
  }
}

TEST_F(DownloadEngineTest, NotFoundFailsAtOnce) {
  server.SetResource("/file.bin", {.status = 404});
  const DownloadTask end = RunToEnd(Task());
  EXPECT_EQ(end.status, DownloadStatus::Failed);
  EXPECT_EQ(end.failureReason, "Server returned HTTP 404");
  EXPECT_EQ(server.Counters().requests, 1);
}

TEST_F(DownloadEngineTest, UnreachableServerFailsTheProbeWithCurlsReason) {
  WaitOnFakeClock();
  std::string url;
  {
    test::HttpTestServer gone;
    url = gone.Url("/file.bin");
  }
  const DownloadTask end = RunToEnd(test::MakeTask(url, folder.path()));
  EXPECT_EQ(end.status, DownloadStatus::Failed);
  EXPECT_EQ(end.failureReason.rfind("Failed to probe the download (curl error 7: ", 0), 0u)
      << end.failureReason;
  EXPECT_GE(clock.Waited(), std::chrono::minutes(10));
}

TEST_F(DownloadEngineTest, InvalidUrlFails) {
  const DownloadTask end = RunToEnd(test::MakeTask("ftp://127.0.0.1/x", folder.path()));
  EXPECT_EQ(end.status, DownloadStatus::Failed);
  EXPECT_EQ(end.failureReason, "Invalid download URL");
}

TEST_F(DownloadEngineTest, StopBetweenProbeAttemptsEndsAsTheStopSays) {
  // The server's earlier errors do not turn a pause or a cancel into a failure.
  for (const bool pause : {true, false}) {
    server.SetResource("/file.bin", {.body = "x", .failFirstRequests = 4, .failStatus = 503});
    server.ResetCounters();
    const DownloadTask task = Task();
    engine.Queue(task);
    ASSERT_TRUE(server.WaitForRequests(2, std::chrono::seconds(10)));
    pause ? engine.Pause(task.id) : void(engine.Cancel(task.id));
    const auto end = log->WaitForEnd(pause ? 1 : 2);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->status, pause ? DownloadStatus::Paused : DownloadStatus::Cancelled);
    EXPECT_EQ(end->failureReason, "");
  }
}

TEST_F(DownloadEngineTest, SegmentsSurviveDroppedConnections) {
  const std::string body = test::MakeContent(1 * kMiB);
  server.SetResource("/file.bin", {.body = body, .dropAfterBytes = 300000});
  const DownloadTask task = Task();
  const DownloadTask end = RunToEnd(task);
  EXPECT_EQ(end.status, DownloadStatus::Completed) << end.failureReason;
  EXPECT_EQ(FinalFile(task), body);
  EXPECT_GE(server.Counters().requests, 5);
}

TEST_F(DownloadEngineTest, SegmentThatNeverProgressesFailsTheRunKeepingFiles) {
  WaitOnFakeClock();
  server.SetResource("/file.bin", {.body = test::MakeContent(1000), .dropAfterBytes = 0});
  const DownloadTask task = Task();
  const DownloadTask end = RunToEnd(task);
  EXPECT_EQ(end.status, DownloadStatus::Failed);
  EXPECT_EQ(end.failureReason, "Segment download failed: Failed while reading segment data");
  EXPECT_EQ(end.segments.size(), 1u);
  EXPECT_TRUE(std::filesystem::exists(SegmentsFolder(task)));
}

TEST_F(DownloadEngineTest, SpeedLimitHoldsTheRate) {
  constexpr std::int64_t kLimit = 512 * 1024;
  const std::string body = test::MakeContent(2 * kMiB);
  server.SetResource("/file.bin", {.body = body});
  DownloadTask task = Task();
  task.useSpeedLimiter = true;
  task.maxSpeedBytesPerSecond = kLimit;
  engine.Queue(task);
  ASSERT_TRUE(log->WaitFor(
      [](const DownloadTask& report) { return report.status == DownloadStatus::Downloading; }));
  const auto started = steady_clock::now();
  const auto end = log->WaitForEnd();
  const auto elapsed = steady_clock::now() - started;
  ASSERT_TRUE(end);
  EXPECT_EQ(end->status, DownloadStatus::Completed) << end->failureReason;
  // The first second's budget goes at once; the other three quarters of the
  // file take a second per limit's worth.
  EXPECT_GE(elapsed, milliseconds(2800));
  EXPECT_LE(elapsed, milliseconds(3800));
}

// Toggled as fast as the engine takes it, between off, a zero limit and small
// limits, while the transfer runs; no switch may crash the run or lose bytes.
TEST_F(DownloadEngineTest, SpeedLimitToggledWhileTransferringKeepsTheBytesRight) {
  const std::string body = test::MakeContent(8 * kMiB, 3);
  server.SetResource("/file.bin", {.body = body, .bytesPerSecondPerConnection = kMiB});
  const DownloadTask task = Task();
  engine.Queue(task);
  ASSERT_TRUE(WaitForProgress(1));
  const std::pair<bool, std::int64_t> settings[] = {
      {true, 64 * 1024}, {true, 0}, {false, 0}, {true, 1}, {true, 200 * 1024}, {true, -5}};
  int toggles = 0;
  for (; toggles < 3000 && engine.IsRunning(task.id); ++toggles) {
    const auto& [enabled, limit] = settings[toggles % std::size(settings)];
    engine.SetSpeedLimit(task.id, enabled, limit);
  }
  engine.SetSpeedLimit(task.id, false, 0);
  const auto end = log->WaitForEnd();
  ASSERT_TRUE(end);
  EXPECT_EQ(end->status, DownloadStatus::Completed) << end->failureReason;
  EXPECT_EQ(end->actualChecksum, test::Sha256Hex(body));
  EXPECT_GE(toggles, 300);
}

// Forty segments over eight workers: every worker carries its segments over
// its own keep-alive connection, so the server sees one connection per worker
// and one for the probe, however the segments fall.
TEST_F(DownloadEngineTest, EachWorkerKeepsItsOwnConnectionAcrossSegments) {
  constexpr std::int64_t kSize = 20 * kMiB;
  constexpr std::int64_t kPiece = kSize / 40;
  const std::string body = test::MakeContent(kSize, 5);
  server.SetResource("/file.bin", {.body = body, .etag = "\"v1\""});
  DownloadTask task = Task("file.bin", 8);
  task.totalBytes = kSize;
  task.etag = "\"v1\"";
  for (std::int64_t start = 0; start < kSize; start += kPiece) {
    task.segments.push_back({start, start + kPiece - 1, 0});
  }
  const DownloadTask end = RunToEnd(task);
  EXPECT_EQ(end.status, DownloadStatus::Completed) << end.failureReason;
  EXPECT_EQ(end.actualChecksum, test::Sha256Hex(body));
  EXPECT_GE(server.Counters().requests, 41);
  EXPECT_LE(server.Counters().connectionsAccepted, 8 + 1);
}

TEST_F(DownloadEngineTest, CancelRemovesFilesAndZeroesProgress) {
  server.SetResource(
      "/file.bin", {.body = test::MakeContent(3 * kMiB), .bytesPerSecondPerConnection = 2 * kMiB});
  const DownloadTask task = Task();
  test::WriteFile(FinalFilePath(task), "an older copy");
  engine.Queue(task);
  ASSERT_TRUE(WaitForProgress(1));
  EXPECT_TRUE(engine.Cancel(task.id));
  const auto end = log->WaitForEnd();
  ASSERT_TRUE(end);
  EXPECT_EQ(end->status, DownloadStatus::Cancelled);
  EXPECT_EQ(end->downloadedBytes, 0);
  EXPECT_EQ(end->speedBytesPerSecond, 0);
  for (const auto& segment : end->segments) EXPECT_EQ(segment.downloadedBytes, 0);
  EXPECT_FALSE(std::filesystem::exists(SegmentsFolder(task)));
  EXPECT_FALSE(std::filesystem::exists(FinalFilePath(task)));
}

// A cancel that reaches a run already ending paused cannot change its end: the
// engine says so, and the run keeps the files for the caller to remove.
TEST_F(DownloadEngineTest, ACancelAfterThePauseSettledIsLeftToTheCaller) {
  server.SetResource(
      "/file.bin", {.body = test::MakeContent(3 * kMiB), .bytesPerSecondPerConnection = kMiB});
  const DownloadTask task = Task();
  std::optional<bool> cancelTaken;
  engine.SetTaskUpdateCallback([&, forward = log->Callback()](const DownloadTask& report) {
    // The run thread reports its end here, before it lets go of the id.
    if (report.status == DownloadStatus::Paused) cancelTaken = engine.Cancel(report.id);
    forward(report);
  });
  engine.Queue(task);
  ASSERT_TRUE(WaitForProgress(1));
  engine.Pause(task.id);
  const auto end = log->WaitForEnd();
  ASSERT_TRUE(end);
  EXPECT_EQ(end->status, DownloadStatus::Paused);
  EXPECT_EQ(cancelTaken, std::optional<bool>(false));
  EXPECT_TRUE(std::filesystem::exists(SegmentsFolder(task)));
  EXPECT_TRUE(test::WaitUntil([&] { return !engine.IsRunning(task.id); }, std::chrono::seconds(10)));
  EXPECT_FALSE(engine.Cancel(task.id));
}

// Once the transfer is over a pause changes nothing, but a cancel still does.
TEST_F(DownloadEngineTest, StopWhileFinishingCancelsButDoesNotPause) {
  server.SetResource("/file.bin", {.body = test::MakeContent(kMiB)});
  for (const bool cancel : {false, true}) {
    const DownloadTask task = Task(cancel ? "cancelled.bin" : "paused.bin");
    engine.SetTaskUpdateCallback([&, forward = log->Callback()](const DownloadTask& report) {
      if (report.status == DownloadStatus::Verifying) {
        cancel ? void(engine.Cancel(report.id)) : engine.Pause(report.id);
      }
      forward(report);
    });
    const DownloadTask end = RunToEnd(task, cancel ? 2 : 1);
    EXPECT_EQ(end.status, cancel ? DownloadStatus::Cancelled : DownloadStatus::Completed);
    EXPECT_EQ(std::filesystem::exists(FinalFilePath(task)), !cancel);
    EXPECT_FALSE(std::filesystem::exists(SegmentsFolder(task)));
  }
}

TEST_F(DownloadEngineTest, ExpectedChecksumMatchesInAnyCaseAndSpacing) {
  const std::string body = test::MakeContent(5000);
  server.SetResource("/file.bin", {.body = body});
  std::string digest = test::Sha256Hex(body);
  for (char& c : digest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  DownloadTask task = Task();
  task.checksumAlgorithm = "sha-256";
  task.expectedChecksum = digest.substr(0, 32) + " \n" + digest.substr(32);
  const DownloadTask end = RunToEnd(task);
  EXPECT_EQ(end.status, DownloadStatus::Completed) << end.failureReason;
  EXPECT_EQ(end.expectedChecksum, test::Sha256Hex(body));
  EXPECT_EQ(end.checksumAlgorithm, "sha-256");
}

TEST_F(DownloadEngineTest, ChecksumMismatchFailsAndRemovesFiles) {
  server.SetResource("/file.bin", {.body = test::MakeContent(5000)});
  DownloadTask task = Task();
  task.checksumAlgorithm = "MD5";
  task.expectedChecksum = "d41d8cd98f00b204e9800998ecf8427e";
  const DownloadTask end = RunToEnd(task);
  EXPECT_EQ(end.status, DownloadStatus::Failed);
  EXPECT_EQ(end.failureReason, "Checksum verification failed");
  EXPECT_EQ(end.checksumAlgorithm, "MD5");
  EXPECT_FALSE(std::filesystem::exists(FinalFilePath(task)));
  EXPECT_FALSE(std::filesystem::exists(SegmentsFolder(task)));
}

TEST_F(DownloadEngineTest, FailedSegmentWriteFailsTheRunAndKeepsWhatReachedTheDisk) {
  const std::string body = test::MakeContent(50000);
  server.SetResource("/file.bin", {.body = body});
  const DownloadTask task = Task();
  std::optional<DownloadTask> failed;
  {
    FileSizeLimit limit(10000);
    engine.Queue(task);
    failed = log->WaitForEnd();
  }
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->status, DownloadStatus::Failed);
  EXPECT_EQ(failed->failureReason, "Segment download failed: File too large");
  EXPECT_EQ(failed->downloadedBytes, 0);     // nothing counted that did not fully reach the disk
  EXPECT_EQ(server.Counters().requests, 2);  // the probe and one attempt, no retry
  ASSERT_EQ(failed->segments.size(), 1u);
  ASSERT_TRUE(test::WaitUntilNotRunning(engine, task.id));

  // The bytes that did reach the disk are kept and resumed from.
  const DownloadTask end = RunToEnd(*failed, 2);
  EXPECT_EQ(end.status, DownloadStatus::Completed) << end.failureReason;
  EXPECT_EQ(FinalFile(task), body);
  EXPECT_EQ(server.LastRequestHeader("/file.bin", "Range"), "bytes=10000-49999");
}

TEST_F(DownloadEngineTest, FinalNameTakenMeanwhileFailsTheRunWithoutWritingThroughIt) {
  server.SetResource("/file.bin", {.body = test::MakeContent(5000)});
  const DownloadTask task = Task();
  std::filesystem::create_symlink("/dev/full", FinalFilePath(task));
  const DownloadTask end = RunToEnd(task);
  EXPECT_EQ(end.status, DownloadStatus::Failed);
  EXPECT_EQ(end.failureReason, "Failed to create final output file");
  EXPECT_EQ(std::filesystem::read_symlink(FinalFilePath(task)), "/dev/full");
  EXPECT_EQ(end.segments.size(), 1u);
  EXPECT_EQ(end.downloadedBytes, 5000);
}

TEST_F(DownloadEngineTest, SameIdQueuedTwiceRunsOneAfterTheOther) {
  const std::string body = test::MakeContent(2 * kMiB);
  server.SetResource("/file.bin", {.body = body, .bytesPerSecondPerConnection = 4 * kMiB});
  // Requests the server had seen when the first run reported its end.
  std::atomic<int> requestsAtFirstEnd{-1};
  engine.SetTaskUpdateCallback([&, forward = log->Callback()](const DownloadTask& report) {
    if (test::IsTerminal(report.status)) {
      int unset = -1;
      requestsAtFirstEnd.compare_exchange_strong(unset, server.Counters().requests);
    }
    forward(report);
  });
  const DownloadTask task = Task();
  engine.Queue(task);
  engine.Queue(task);
  const auto first = log->WaitForEnd(1);
  const auto second = log->WaitForEnd(2);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->status, DownloadStatus::Completed) << first->failureReason;
  EXPECT_EQ(second->status, DownloadStatus::Completed) << second->failureReason;
  // Probe and segment of the first run only: the second had not started.
  EXPECT_EQ(requestsAtFirstEnd.load(), 2);
  EXPECT_EQ(server.Counters().requests, 4);
  EXPECT_EQ(FinalFile(task), body);
  EXPECT_TRUE(test::WaitUntilNotRunning(engine, task.id));
}

TEST_F(DownloadEngineTest, PauseReachesOnlyTheLatestRunOfAnId) {
  server.SetResource(
      "/file.bin", {.body = test::MakeContent(2 * kMiB), .bytesPerSecondPerConnection = 4 * kMiB});
  const DownloadTask task = Task();
  engine.Queue(task);
  engine.Queue(task);
  engine.Pause(task.id);
  const auto first = log->WaitForEnd(1);
  const auto second = log->WaitForEnd(2);
  ASSERT_TRUE(first && second);
  // The second run was paused while it waited for the first: it stays alive
  // until the first has ended, then ends paused without a request.
  EXPECT_EQ(first->status, DownloadStatus::Completed) << first->failureReason;
  EXPECT_EQ(second->status, DownloadStatus::Paused) << second->failureReason;
  EXPECT_EQ(server.Counters().requests, 2);
  EXPECT_TRUE(test::WaitUntilNotRunning(engine, task.id));
}

TEST_F(DownloadEngineTest, ControlOfUnknownIdsDoesNothing) {
  engine.Pause("dl_unknown");
  engine.Cancel("dl_unknown");
  engine.Resume("dl_unknown");
  engine.SetSpeedLimit("dl_unknown", true, 10);
  EXPECT_FALSE(engine.IsRunning("dl_unknown"));
}

// With a bound of two, runs beyond it wait as queued, start as runs end, and a
// stop of a waiting run ends it without a transfer; an id
// queued twice behind the bound still runs its two runs one after the other.
TEST(BoundedDownloadEngineTest, RunsBeyondTheBoundWaitInQueueOrder) {
  test::HttpTestServer server;
  test::TempFolder folder;
  const std::string body = test::MakeContent(256 * 1024);
  server.SetResource("/file.bin", {.body = body, .bytesPerSecondPerConnection = 1024 * 1024});
  auto log = ReportLog::Create();
  std::mutex mutex;
  std::vector<std::string> started;  // ids in the order of their first Downloading report
  std::set<std::string> transferring;
  std::size_t mostActive = 0;
  DownloadEngine engine(2);
  engine.SetTaskUpdateCallback([&, forward = log->Callback()](const DownloadTask& report) {
    {
      std::lock_guard lock(mutex);
      if (report.status == DownloadStatus::Downloading && transferring.insert(report.id).second) {
        if (std::find(started.begin(), started.end(), report.id) == started.end()) {
          started.push_back(report.id);
        }
      }
      if (test::IsTerminal(report.status)) transferring.erase(report.id);
      mostActive = std::max(mostActive, transferring.size());
    }
    forward(report);
  });
  std::vector<DownloadTask> tasks;
  for (int i = 0; i < 6; ++i) {
    tasks.push_back(test::MakeTask(server.Url("/file.bin"), folder.path(),
                                   "f" + std::to_string(i) + ".bin", 1));
    engine.Queue(tasks.back());
  }
  engine.Queue(tasks[5]);  // a second run of the last id, behind the first
  engine.Pause(tasks[3].id);
  engine.Cancel(tasks[4].id);
  for (int n = 1; n <= 7; ++n) ASSERT_TRUE(log->WaitForEnd(n)) << n;

  std::map<std::string, std::vector<DownloadStatus>> ends;
  for (const DownloadTask& report : log->Reports()) {
    if (test::IsTerminal(report.status)) ends[report.id].push_back(report.status);
  }
  using S = DownloadStatus;
  const std::vector<std::vector<S>> expected = {{S::Completed}, {S::Completed}, {S::Completed},
                                                {S::Paused},    {S::Cancelled}, {S::Completed, S::Completed}};
  for (std::size_t i = 0; i < tasks.size(); ++i) EXPECT_EQ(ends[tasks[i].id], expected[i]) << i;
  std::lock_guard lock(mutex);
  EXPECT_LE(mostActive, 2u);
  // The first two start together, the next two as slots free up (their first
  // reports may cross); the stopped ones never transfer.
  ASSERT_EQ(started.size(), 4u);
  EXPECT_EQ(std::set<std::string>(started.begin(), started.begin() + 2),
            (std::set<std::string>{tasks[0].id, tasks[1].id}));
  EXPECT_EQ(std::set<std::string>(started.begin() + 2, started.end()),
            (std::set<std::string>{tasks[2].id, tasks[5].id}));
  EXPECT_EQ(test::ReadFile(folder.path() / "f5.bin"), body);
}

// A link planted as the segment folder or as the final file, pointing out of
// the output folder: the run fails and nothing outside is written or removed,
// not by the run and not by deleting the download afterwards.
TEST_F(DownloadEngineTest, PlantedLinksNeverCarryWritesOutside) {
  server.SetResource("/file.bin", {.body = test::MakeContent(300000)});
  struct Case {
    const char* planted;
    bool toFolder;
    const char* reason;
  };
  const Case cases[] = {{"file.bin.segments", true, "Failed to create segment folder"},
                        {"file.bin", false, "Failed to create final output file"}};
  int runs = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.planted);
    test::TempFolder outside;
    test::WriteFile(outside.path() / "kept", "kept");
    std::filesystem::create_symlink(c.toFolder ? outside.path() : outside.path() / "kept",
                                    folder.path() / c.planted);
    const DownloadTask task = Task();
    const DownloadTask end = RunToEnd(task, ++runs);
    EXPECT_EQ(end.status, DownloadStatus::Failed);
    EXPECT_EQ(end.failureReason, c.reason);
    RemoveDownloadFiles(end, true);
    EXPECT_EQ(test::ReadFile(outside.path() / "kept"), "kept");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(outside.path()), {}), 1);
    ASSERT_TRUE(test::WaitUntilNotRunning(engine, task.id));
    RemoveDownloadFiles(end, true);
  }
}

}  // namespace
}  // namespace vn

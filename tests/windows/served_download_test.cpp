// Whole downloads through the engine and WinHTTP, against serve-file running as
// a Linux process in the same network namespace (VARNEL_TEST_URL and
// VARNEL_TEST_FILE, as for the HTTP seam's test).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "tests/engine/engine_test_support.h"
#include "tests/support/test_environment.h"

namespace vn::test {
namespace {

// The served file's URL with folder put before its name ("" for the file).
std::string ServedUrl(const std::string& folder = "") {
  const std::string url = std::getenv("VARNEL_TEST_URL");
  const auto slash = url.rfind('/');
  return url.substr(0, slash) + folder + url.substr(slash);
}

class ServedDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* file = std::getenv("VARNEL_TEST_FILE");
    if (std::getenv("VARNEL_TEST_URL") == nullptr || file == nullptr) {
      GTEST_SKIP() << "no served file";
    }
    content = ReadFile(file);
  }
  std::string content;
};

TEST_F(ServedDownload, SegmentedDownloadsAreWholeAndChecked) {
  const std::string url = ServedUrl();
  struct Case {
    std::string url;
    int connections;
    std::string expectedChecksum;
    DownloadStatus status;
    std::string failureReason;
  };
  const Case cases[] = {
      {url, 1, "", DownloadStatus::Completed, ""},
      {url, 8, Sha256Hex(content), DownloadStatus::Completed, ""},
      {url, 8, std::string(64, '0'), DownloadStatus::Failed, "Checksum verification failed"},
      {ServedUrl("/no-ranges"), 8, "", DownloadStatus::Completed, ""},
      // Each cut answer is taken up again from the bytes already on disk.
      {ServedUrl("/dropping"), 1, Sha256Hex(content), DownloadStatus::Completed, ""},
  };
  for (const auto& check : cases) {
    TempFolder folder;
    DownloadTask task = MakeTask(check.url, folder.path(), "file.bin", check.connections);
    if (!check.expectedChecksum.empty()) {
      task.checksumAlgorithm = "SHA256";
      task.expectedChecksum = check.expectedChecksum;
    }
    const DownloadTask end = RunToEnd(task);
    EXPECT_EQ(end.status, check.status) << check.url << " " << end.failureReason;
    EXPECT_EQ(end.failureReason, check.failureReason);
    const bool kept = check.status == DownloadStatus::Completed;
    ASSERT_EQ(std::filesystem::exists(folder.path() / "file.bin"), kept);
    if (kept) {
      EXPECT_TRUE(ReadFile(folder.path() / "file.bin") == content);
    }
  }
}

TEST_F(ServedDownload, PauseKeepsProgressAndResumeCompletes) {
  TempFolder folder;
  const auto log = ReportLog::Create();
  DownloadEngine engine;
  engine.SetTaskUpdateCallback(log->Callback());
  const DownloadTask task = MakeTask(ServedUrl("/slow"), folder.path(), "file.bin", 1);
  engine.Queue(task);
  ASSERT_TRUE(log->WaitFor([](const DownloadTask& report) {
    return report.status == DownloadStatus::Downloading && report.downloadedBytes > 0;
  }));
  engine.Pause(task.id);
  const auto paused = log->WaitForEnd();
  ASSERT_TRUE(paused && paused->status == DownloadStatus::Paused);
  ASSERT_LT(paused->downloadedBytes, static_cast<std::int64_t>(content.size()));
  ASSERT_TRUE(WaitUntilNotRunning(engine, task.id));

  engine.Queue(*paused);
  const auto end = log->WaitForEnd(2);
  ASSERT_TRUE(end);
  EXPECT_EQ(end->status, DownloadStatus::Completed) << end->failureReason;
  EXPECT_TRUE(ReadFile(folder.path() / "file.bin") == content);
}

// The limit holds through WinHTTP's reads too: the file takes at least the time
// its bytes beyond the first second's budget need. Only a lower bound: a slow
// machine may take longer.
TEST_F(ServedDownload, SpeedLimitHoldsTheRate) {
  const auto limit = static_cast<std::int64_t>(content.size() / 3);
  TempFolder folder;
  DownloadTask task = MakeTask(ServedUrl(), folder.path(), "file.bin", 4);
  task.useSpeedLimiter = true;
  task.maxSpeedBytesPerSecond = limit;
  const auto started = std::chrono::steady_clock::now();
  const DownloadTask end = RunToEnd(task);
  const auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(end.status, DownloadStatus::Completed) << end.failureReason;
  EXPECT_TRUE(ReadFile(folder.path() / "file.bin") == content);
  EXPECT_GE(elapsed, std::chrono::milliseconds(1500));
}

}  // namespace
}  // namespace vn::test

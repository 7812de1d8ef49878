// Whole downloads through the engine and WinHTTP, against serve-file running as
// a Linux process in the same network namespace (VARNEL_TEST_URL and
// VARNEL_TEST_FILE, as for the HTTP seam's test).
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/engine/engine_test_support.h"
#include "tests/support/test_environment.h"

namespace vn::test {
namespace {

TEST(ServedDownload, SegmentedDownloadsAreWholeAndChecked) {
  const char* url = std::getenv("VARNEL_TEST_URL");
  const char* file = std::getenv("VARNEL_TEST_FILE");
  if (url == nullptr || file == nullptr) GTEST_SKIP() << "no served file";
  const std::string content = ReadFile(file);
  const std::string base = std::string(url).substr(0, std::string(url).rfind('/'));
  const std::string name = std::string(url).substr(base.size());
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
      {base + "/no-ranges" + name, 8, "", DownloadStatus::Completed, ""},
      // Each cut answer is taken up again from the bytes already on disk.
      {base + "/dropping" + name, 1, Sha256Hex(content), DownloadStatus::Completed, ""},
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

}  // namespace
}  // namespace vn::test

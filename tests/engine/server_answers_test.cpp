// Whole downloads against servers whose answers are not the probed file: every
// answer is checked before a byte of it is written.
#include <gtest/gtest.h>

#include "apps/service/engine/partial_files.h"
#include "tests/engine/engine_test_support.h"
#include "tests/http_server/http_test_server.h"
#include "tests/support/test_environment.h"

namespace vn {
namespace {

constexpr std::int64_t kMiB = 1048576;

struct WrongBytesCase {
  const char* name;
  test::ResourceOptions resource;
  std::string expectedFailure;  // "" means Completed with expectedBody
  std::string expectedBody;
};

TEST(ServerAnswers, WrongBytesNeverComplete) {
  const std::string first = test::MakeContent(8 * kMiB, 1);
  const std::string second = test::MakeContent(8 * kMiB, 2);
  const std::string larger = test::MakeContent(10 * kMiB, 3);
  const std::string changed = "The file changed on the server during the download";
  const WrongBytesCase cases[] = {
      {"range starts 4 KiB early",
       {.body = first, .etag = "\"v1\"", .contentRangeShift = 4096},
       changed,
       ""},
      {"content and ETag change after the third request",
       {.body = first, .etag = "\"v1\"", .changeAfterRequests = 3, .changedBody = second,
        .changedEtag = "\"v2\""},
       "",
       second},
      {"size changes after the probe, same ETag",
       {.body = first, .etag = "\"v1\"", .changeAfterRequests = 1, .changedBody = larger,
        .changedEtag = "\"v1\""},
       "",
       larger},
  };
  for (const WrongBytesCase& row : cases) {
    SCOPED_TRACE(row.name);
    test::HttpTestServer server;
    test::TempFolder folder;
    server.SetResource("/file.bin", row.resource);
    const DownloadTask task = test::MakeTask(server.Url("/file.bin"), folder.path());
    const DownloadTask end = test::RunToEnd(task);
    EXPECT_EQ(server.LastRequestHeader("/file.bin", "If-Range"), end.etag);
    if (!row.expectedFailure.empty()) {
      EXPECT_EQ(end.status, DownloadStatus::Failed);
      EXPECT_EQ(end.failureReason, row.expectedFailure);
      EXPECT_FALSE(std::filesystem::exists(FinalFilePath(task)));
      continue;
    }
    EXPECT_EQ(end.status, DownloadStatus::Completed) << end.failureReason;
    EXPECT_EQ(end.connectionCount, 8);
    EXPECT_EQ(end.totalBytes, static_cast<std::int64_t>(row.expectedBody.size()));
    EXPECT_EQ(end.actualChecksum, test::Sha256Hex(row.expectedBody));
  }
}

TEST(ServerAnswers, StatusesThatAreNotTheFileFail) {
  for (const int status : {302, 202, 203, 204, 304}) {
    SCOPED_TRACE(status);
    test::HttpTestServer server;
    test::TempFolder folder;
    server.SetResource("/file.bin", {.body = "Found!", .status = status});
    const DownloadTask task = test::MakeTask(server.Url("/file.bin"), folder.path());
    const DownloadTask end = test::RunToEnd(task);
    EXPECT_EQ(end.status, DownloadStatus::Failed);
    EXPECT_EQ(end.failureReason, "Server returned HTTP " + std::to_string(status));
    EXPECT_FALSE(std::filesystem::exists(FinalFilePath(task)));
    EXPECT_EQ(server.Counters().requests, 1);
  }
}

}  // namespace
}  // namespace vn

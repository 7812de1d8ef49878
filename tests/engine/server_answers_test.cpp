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

// A 206 is a part of the file only where its Content-Range says; without a
// valid one its body is never taken for the file, in the probe or later.
TEST(ServerAnswers, PartialContentNeedsAValidContentRange) {
  const std::string noRange = "Server returned HTTP 206 without a Content-Range";
  struct Case {
    const char* name;
    test::ResourceOptions resource;
    std::string expectedFailure;  // "" means Completed with "abc"
  };
  const Case cases[] = {
      {"206 without Content-Range", {.body = "abc", .status = 206}, noRange},
      {"no total", {.body = "abc", .status = 206, .contentRange = "bytes 0-2"}, noRange},
      {"not a range", {.body = "abc", .status = 206, .contentRange = "bytes abc"}, noRange},
      {"another unit", {.body = "abc", .status = 206, .contentRange = "items 0-2/3"}, noRange},
      {"first after last", {.body = "abc", .status = 206, .contentRange = "bytes 2-1/3"}, noRange},
      {"last beyond the total", {.body = "abc", .status = 206, .contentRange = "bytes 0-3/3"},
       noRange},
      {"trailing text", {.body = "abc", .status = 206, .contentRange = "bytes 0-2/3x"}, noRange},
      {"probe fine, then 206 without Content-Range",
       {.body = "abc", .failStatus = 206, .failFromRequest = 1},
       "Segment download failed: " + noRange},
      {"whole body with an unknown total", {.body = "abc", .status = 206, .contentRange = "bytes 0-2/*"},
       ""},
      {"no ranges at all", {.body = "abc", .rangeSupport = false}, ""},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    test::HttpTestServer server;
    test::TempFolder folder;
    server.SetResource("/file.bin", row.resource);
    const DownloadTask task = test::MakeTask(server.Url("/file.bin"), folder.path());
    const DownloadTask end = test::RunToEnd(task);
    if (!row.expectedFailure.empty()) {
      EXPECT_EQ(end.status, DownloadStatus::Failed);
      EXPECT_EQ(end.failureReason, row.expectedFailure);
      EXPECT_FALSE(std::filesystem::exists(FinalFilePath(task)));
      continue;
    }
    EXPECT_EQ(end.status, DownloadStatus::Completed) << end.failureReason;
    EXPECT_EQ(end.downloadedBytes, 3);
    EXPECT_EQ(end.actualChecksum, test::Sha256Hex("abc"));
  }
}

}  // namespace
}  // namespace vn

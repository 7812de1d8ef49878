#include "apps/service/engine/refresh_overlap.h"

#include <gtest/gtest.h>

#include "apps/service/engine/partial_files.h"
#include "tests/http_server/http_test_server.h"
#include "tests/support/test_environment.h"

namespace vn {
namespace {

// What is held: 100 KiB of the first segment of a 300 KiB file, and 10 bytes
// of the second. The check compares the first segment's last 64 KiB.
TEST(RefreshOverlap, KeepsProgressOnlyWhenTheHeldBytesComeBackEqual) {
  constexpr std::int64_t kSize = 300 * 1024;
  const std::string body = test::MakeContent(kSize);
  std::string changedAtTheEnd = body;
  changedAtTheEnd[100 * 1024 - 1] ^= 0x55;
  std::string changedBefore = body;
  changedBefore[100 * 1024 - 65 * 1024] ^= 0x55;
  struct Case {
    const char* name;
    test::ResourceOptions served;
    bool matches;
  };
  const std::vector<Case> cases = {
      {"same bytes", {.body = body}, true},
      {"same bytes, an ETag now", {.body = body, .etag = "\"new\""}, true},
      {"last held byte differs", {.body = changedAtTheEnd}, false},
      {"only bytes before the overlap differ", {.body = changedBefore}, true},
      {"no ranges", {.body = body, .rangeSupport = false}, false},
      {"another size", {.body = body + "x"}, false},
      {"a range other than the one asked", {.body = body, .contentRangeShift = 5}, false},
      {"not found", {.body = body, .status = 404}, false},
  };
  for (const auto& [name, served, matches] : cases) {
    SCOPED_TRACE(name);
    test::HttpTestServer server;
    server.SetResource("/f.bin", served);
    test::TempFolder folder;
    DownloadTask task;
    task.url = server.Url("/f.bin");
    task.outputPath = folder.path().string();
    task.fileName = "f.bin";
    task.totalBytes = kSize;
    task.etag = served.etag;
    task.segments = {{0, 150 * 1024 - 1, 100 * 1024}, {150 * 1024, kSize - 1, 10}};
    const auto segments = CreateSegmentsFolder(task);
    test::WriteFile(PartFilePath(segments, 0), body.substr(0, 100 * 1024));
    test::WriteFile(PartFilePath(segments, 1), body.substr(150 * 1024, 10));
    platform::HttpSession session;
    const auto target = platform::MakeRequestTarget(task.url, "", "");
    std::atomic<bool> stop{false};
    EXPECT_EQ(OverlapMatches(session, target, task, segments, stop), matches);
  }
}

}  // namespace
}  // namespace vn

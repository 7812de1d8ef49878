#include "apps/varnel/closing_line.h"

#include <gtest/gtest.h>

namespace vn::cli {
namespace {

TEST(ClosingLine, NamesSizeTimeRateAndTheDigestAsFound) {
  const auto end = [](const std::string& status, std::int64_t downloaded, std::int64_t total,
                      std::int64_t waitedMs, const std::string& expected,
                      const std::string& actual) {
    DownloadEnd result;
    result.task.fileName = "a\x1b[2Jb.bin";
    result.task.status = status;
    result.task.downloadedBytes = downloaded;
    result.task.totalBytes = total;
    result.waited = std::chrono::milliseconds(waitedMs);
    result.expectedChecksum = expected;
    result.actualChecksum = actual;
    return result;
  };
  const std::string digest = "0123456789abcdef" + std::string(48, 'e');
  struct Case {
    DownloadEnd end;
    std::string line;
  };
  const Case cases[] = {
      {end("Completed", 3 << 20, 3 << 20, 1500, digest, digest),
       "a?[2Jb.bin: 3 MiB in 1.5s, 2 MiB/s, SHA-256 verified 0123456789abcdef"},
      {end("Completed", 1024, 1024, 0, "", digest),
       "a?[2Jb.bin: 1 KiB in 0.0s, 1000 KiB/s, SHA-256 computed 0123456789abcdef"},
      {end("Completed", 1024, 1024, 125000, "", ""), "a?[2Jb.bin: 1 KiB in 2m05s, 8 B/s"},
      {end("Failed", 1 << 20, 4 << 20, 2000, digest, ""),
       "a?[2Jb.bin: 1 MiB of 4 MiB in 2.0s, 512 KiB/s, Failed"},
  };
  for (const Case& c : cases) EXPECT_EQ(RenderClosingLine(c.end), c.line);
}

}  // namespace
}  // namespace vn::cli

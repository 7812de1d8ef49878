// A download rides out its server going away for a while.
#include "tests/e2e/download_fixture.h"

namespace vn::test {
namespace {

using Outage = DownloadTest;

// Longer than every retry of the written rules together (a segment's eight
// attempts, then a probe's four: under 4 s), so only waiting can save the run.
constexpr auto kOutage = std::chrono::seconds(7);

TEST_F(Outage, ServerAwayForSecondsMidDownloadNeverFailsIt) {
  const std::string body = MakeContent(16 << 20, 3);
  ResourceOptions resource;
  resource.body = body;
  resource.bytesPerSecondPerConnection = 512 << 10;  // some 4 s on eight connections
  server.SetResource("/big.bin", resource);
  const auto id = Enqueue({{"url", server.Url("/big.bin")}, {"connectionCount", 8}});
  WaitUntil(id, [](const nlohmann::json& task) { return task["downloadedBytes"] >= (4 << 20); });

  server.GoDown();
  const auto backAt = std::chrono::steady_clock::now() + kOutage;
  bool listedWaiting = false;
  test::WaitUntil(
      [&] {
        auto task = Find(id);
        EXPECT_NE(task["status"], "Failed") << task;
        listedWaiting |= task["status"] == "Downloading" && task["speedBytesPerSecond"] == 0;
        return std::chrono::steady_clock::now() >= backAt;
      },
      kOutage + std::chrono::seconds(1), kListInterval);
  server.ComeBack();
  EXPECT_TRUE(listedWaiting);

  const auto end = WaitUntil(
      id,
      [](const nlohmann::json& task) {
        EXPECT_NE(task["status"], "Failed") << task;
        return task["status"] == "Completed";
      },
      std::chrono::seconds(60));
  EXPECT_EQ(end["status"], "Completed");
  EXPECT_EQ(Sha256Hex(ReadFile(OutputFile("big.bin"))), Sha256Hex(body));
}

}  // namespace
}  // namespace vn::test

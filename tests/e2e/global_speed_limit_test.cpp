#include <chrono>

#include "tests/e2e/download_fixture.h"

namespace vn::test {
namespace {

using GlobalSpeedLimit = DownloadTest;

// Only a limit a person can mean is taken; anything else is refused and
// leaves a limit that was set in force.
TEST_F(GlobalSpeedLimit, RefusesWhatIsNoLimitAndKeepsTheOneSet) {
  const auto send = [&](nlohmann::json request) {
    request["type"] = "set_global_speed_limit";
    return Send(request).dump();
  };
  ASSERT_EQ(send({{"enabled", true}, {"maxSpeedBytesPerSecond", 64 * 1024}}), R"({"ok":true})");
  const std::vector<nlohmann::json> refused = {
      nlohmann::json::object(),
      {{"maxSpeedBytesPerSecond", 1000}},
      {{"enabled", "yes"}, {"maxSpeedBytesPerSecond", 1000}},
      {{"enabled", true}},
      {{"enabled", true}, {"maxSpeedBytesPerSecond", 0}},
      {{"enabled", true}, {"maxSpeedBytesPerSecond", -5}},
      {{"enabled", true}, {"maxSpeedBytesPerSecond", 1e30}},
      {{"enabled", true}, {"maxSpeedBytesPerSecond", 1.5}},
      {{"enabled", true}, {"maxSpeedBytesPerSecond", 9007199254740993LL}},
      {{"enabled", true}, {"maxSpeedBytesPerSecond", "1000"}},
  };
  for (const auto& request : refused) {
    EXPECT_EQ(send(request), R"({"error":"Invalid speed limit","ok":false})") << request;
  }
  // The limit set first still holds: a 1 MiB file takes many seconds, so it
  // is still transferring when looked at.
  ResourceOptions held;
  held.body = MakeContent(1024 * 1024);
  server.SetResource("/held.bin", held);
  const auto id = Enqueue({{"url", server.Url("/held.bin")}});
  const auto task = WaitUntil(id, [](const nlohmann::json& t) { return t["downloadedBytes"] > 0; });
  EXPECT_NE(task["status"], "Completed") << task;
  EXPECT_EQ(send({{"enabled", false}}), R"({"ok":true})");
  WaitForStatus(id, "Completed");
}

// Two downloads under one global limit: together they run at about the limit,
// and neither starves the other. Measured over several seconds of reports, so
// the half-second report interval blurs the figure by a few percent at most.
TEST_F(GlobalSpeedLimit, TwoDownloadsShareOneLimitFairly) {
  constexpr std::int64_t kLimit = 1024 * 1024;
  constexpr std::int64_t kMeasured = 6 * kLimit;
  const auto limit = [&](bool on) {
    return Send({{"type", "set_global_speed_limit"},
                 {"enabled", on},
                 {"maxSpeedBytesPerSecond", on ? kLimit : 0}})
        .dump();
  };
  ASSERT_EQ(limit(true), R"({"ok":true})");

  const auto body = MakeContent(12 * 1024 * 1024);
  ResourceOptions resource;
  resource.body = body;
  server.SetResource("/a.bin", resource);
  server.SetResource("/b.bin", resource);
  const std::string ids[] = {Enqueue({{"url", server.Url("/a.bin")}}),
                             Enqueue({{"url", server.Url("/b.bin")}})};
  const auto downloaded = [&](const std::string& id) {
    const auto task = Find(id);
    return task.is_null() ? std::int64_t{0} : task["downloadedBytes"].get<std::int64_t>();
  };
  for (const auto& id : ids)
    WaitUntil(id, [](const nlohmann::json& t) { return t["downloadedBytes"] > 0; });

  const std::int64_t first[] = {downloaded(ids[0]), downloaded(ids[1])};
  const auto start = std::chrono::steady_clock::now();
  std::int64_t gained[2] = {};
  ASSERT_TRUE(test::WaitUntil(
      [&] {
        for (int i = 0; i < 2; ++i) gained[i] = downloaded(ids[i]) - first[i];
        return gained[0] + gained[1] >= kMeasured;
      },
      std::chrono::seconds(40), kListInterval));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double rate = static_cast<double>(gained[0] + gained[1]) / seconds;
  EXPECT_GT(rate, 0.75 * kLimit) << seconds << " s";
  EXPECT_LT(rate, 1.25 * kLimit) << seconds << " s";
  for (const std::int64_t share : gained) {
    EXPECT_GT(share, kMeasured * 3 / 10) << gained[0] << " / " << gained[1];
  }

  // Lifted, it lets both finish at once, whole.
  ASSERT_EQ(limit(false), R"({"ok":true})");
  for (const auto& id : ids) WaitForStatus(id, "Completed", std::chrono::seconds(20));
  EXPECT_EQ(Sha256Hex(ReadFile(OutputFile("b.bin"))), Sha256Hex(body));
}

}  // namespace
}  // namespace vn::test

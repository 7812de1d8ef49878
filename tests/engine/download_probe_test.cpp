#include "apps/service/engine/download_probe.h"

#include <gtest/gtest.h>

#include "tests/engine/fake_wait_clock.h"
#include "tests/http_server/http_test_server.h"

namespace vn {
namespace {

using std::chrono::milliseconds;

// Server errors are retried after 400, 800 and 1,200 ms; the fourth is final.
TEST(DownloadProbe, BacksOffLongerAfterEachServerError) {
  struct Case {
    int failures;
    int requests;
    milliseconds waited;
    const char* error;  // nullptr: the probe succeeds
  };
  const Case cases[] = {
      {0, 1, milliseconds(0), nullptr},
      {1, 2, milliseconds(400), nullptr},
      {3, 4, milliseconds(2400), nullptr},
      {4, 4, milliseconds(2400), "Server returned HTTP 503"},
  };
  for (const Case& c : cases) {
    test::HttpTestServer server;
    server.SetResource("/file.bin",
                       {.body = "body", .failFirstRequests = c.failures, .failStatus = 503});
    test::FakeWaitClock clock;
    platform::HttpSession session;
    const std::atomic<bool> stopRequested{false};
    std::string error;
    try {
      const auto probe = ProbeDownload(
          session, platform::MakeRequestTarget(server.Url("/file.bin"), "", ""), stopRequested,
          clock);
      EXPECT_TRUE(probe.has_value());
    } catch (const std::exception& failure) {
      error = failure.what();
    }
    EXPECT_EQ(error, c.error ? c.error : "") << c.failures;
    EXPECT_EQ(server.Counters().requests, c.requests) << c.failures;
    EXPECT_EQ(clock.Waited(), c.waited) << c.failures;
  }
}

}  // namespace
}  // namespace vn

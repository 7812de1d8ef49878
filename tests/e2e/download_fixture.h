#pragma once

#include <chrono>
#include <string>

#include "tests/e2e/service_fixture.h"
#include "tests/http_server/http_test_server.h"
#include "tests/support/wait_until.h"

namespace vn::test {

// A resource of the test server: body, sent at bytesPerSecond per connection
// (0: as fast as it goes).
inline ResourceOptions Resource(const std::string& body, std::int64_t bytesPerSecond = 0) {
  ResourceOptions options;
  options.body = body;
  options.bytesPerSecondPerConnection = bytesPerSecond;
  return options;
}

// A running service plus a loopback HTTP server to download from.
class DownloadTest : public ServiceTest {
 protected:
  // Each look is a list request to the service; keep them sparse.
  static constexpr auto kListInterval = std::chrono::milliseconds(50);

  void SetUp() override { service = StartService(); }
  void TearDown() override {
    if (service) {
      EXPECT_EQ(service->Stop(), 0) << service->Errors();
    }
  }

  void Restart() {
    EXPECT_EQ(service->Stop(), 0) << service->Errors();
    service = StartService();
  }

  nlohmann::json Send(const nlohmann::json& request) { return Ask(*service, request); }

  // The listed task with id, or null when it is not listed.
  nlohmann::json Find(const std::string& id) {
    for (const auto& task : List(*service)) {
      if (task["id"] == id) return task;
    }
    return nullptr;
  }

  std::string Enqueue(nlohmann::json request) {
    request["type"] = "enqueue_download";
    if (!request.contains("outputPath")) request["outputPath"] = downloads.path().string();
    const auto answer = Send(request);
    EXPECT_EQ(answer["ok"], true) << answer;
    return answer.value("id", "");
  }

  // Polls the list until the task has status (bounded); the last listing.
  nlohmann::json WaitForStatus(const std::string& id, const std::string& status,
                               std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    nlohmann::json task;
    const auto reached = [&] {
      task = Find(id);
      return !task.is_null() && task["status"] == status;
    };
    if (test::WaitUntil(reached, timeout, kListInterval)) return task;
    ADD_FAILURE() << "status " << status << " not reached by " << id << ": " << task;
    return task;
  }

  // Polls until the predicate holds for the task (bounded).
  template <typename Predicate>
  nlohmann::json WaitUntil(const std::string& id, Predicate predicate,
                           std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    nlohmann::json task;
    const auto holds = [&] {
      task = Find(id);
      return !task.is_null() && predicate(task);
    };
    if (test::WaitUntil(holds, timeout, kListInterval)) return task;
    ADD_FAILURE() << "condition not reached by " << id << ": " << task;
    return task;
  }

  // Checks that the listing of id stays as holds says while stopped runs let
  // go of the test server; returns once every connection to it has closed.
  template <typename Predicate>
  void ExpectWhileRunsEnd(const std::string& id, Predicate holds) {
    EXPECT_TRUE(test::WaitUntil(
        [&] {
          const bool idle = server.Counters().openConnections == 0;
          const auto task = Find(id);
          EXPECT_TRUE(holds(task)) << task;
          return idle;
        },
        std::chrono::seconds(10), kListInterval));
  }

  std::filesystem::path OutputFile(const std::string& name) { return downloads.path() / name; }

  HttpTestServer server;
  TempFolder downloads;
  std::unique_ptr<ServiceProcess> service;
};

}  // namespace vn::test

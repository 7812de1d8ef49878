#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/e2e/service_fixture.h"
#include "tests/http_server/http_test_server.h"
#include "tests/support/wait_until.h"
#include "tests/varnel/client_process.h"

namespace vn::test {

// One real service and one loopback HTTP server per test; varnel runs as a
// child process against them.
class VarnelTest : public ServiceTest {
 protected:
  void SetUp() override { service = StartService(); }
  void TearDown() override {
    if (service) {
      EXPECT_EQ(service->Stop(), 0) << service->Errors();
    }
  }

  // The listed task with that id; null when it is not listed.
  nlohmann::json TaskOf(const std::string& id) const {
    for (const auto& task : List(*service)) {
      if (task["id"] == id) return task;
    }
    return nullptr;
  }

  std::string StatusOf(const std::string& id) const {
    const auto task = TaskOf(id);
    return task.is_null() ? "(not listed)" : task["status"].get<std::string>();
  }

  // Polls until the listed task satisfies holds (at most timeout).
  bool WaitFor(const std::string& id, const std::function<bool(const nlohmann::json&)>& holds,
               std::chrono::milliseconds timeout = std::chrono::seconds(30)) const {
    return test::WaitUntil(
        [&] {
          const auto task = TaskOf(id);
          return !task.is_null() && holds(task);
        },
        timeout, std::chrono::milliseconds(50));
  }

  bool WaitForStatus(const std::string& id, const std::string& status,
                     std::chrono::milliseconds timeout = std::chrono::seconds(30)) const {
    return WaitFor(
        id, [&](const nlohmann::json& task) { return task["status"] == status; }, timeout);
  }

  // A resource that takes far longer than any test to finish, so control
  // commands meet a running download.
  std::string SlowUrl() {
    ResourceOptions slow;
    slow.body = MakeContent(8 << 20, 7);
    slow.bytesPerSecondPerConnection = 16 << 10;
    http.SetResource("/slow.bin", slow);
    return http.Url("/slow.bin");
  }

  static ResourceOptions Serving(std::string body) {
    ResourceOptions options;
    options.body = std::move(body);
    return options;
  }

  static ResourceOptions Answering(int status) {
    ResourceOptions options;
    options.status = status;
    return options;
  }

  // The id varnel printed on its first line.
  static std::string FirstLine(const std::string& output) {
    return output.substr(0, output.find('\n'));
  }

  HttpTestServer http;
  std::unique_ptr<ServiceProcess> service;
};

}  // namespace vn::test

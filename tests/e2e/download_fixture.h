#pragma once

#include <chrono>
#include <string>
#include <thread>

#include "tests/e2e/service_fixture.h"
#include "tests/http_server/http_test_server.h"

namespace vn::test {

// A running service plus a loopback HTTP server to download from.
class DownloadTest : public ServiceTest {
 protected:
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
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    nlohmann::json task;
    while (std::chrono::steady_clock::now() < deadline) {
      task = Find(id);
      if (!task.is_null() && task["status"] == status) return task;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "status " << status << " not reached by " << id << ": " << task;
    return task;
  }

  // Polls until the predicate holds for the task (bounded).
  template <typename Predicate>
  nlohmann::json WaitUntil(const std::string& id, Predicate predicate,
                           std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    nlohmann::json task;
    while (std::chrono::steady_clock::now() < deadline) {
      task = Find(id);
      if (!task.is_null() && predicate(task)) return task;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "condition not reached by " << id << ": " << task;
    return task;
  }

  std::filesystem::path OutputFile(const std::string& name) { return downloads.path() / name; }

  HttpTestServer server;
  TempFolder downloads;
  std::unique_ptr<ServiceProcess> service;
};

}  // namespace vn::test

#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/support/service_process.h"
#include "tests/support/test_environment.h"

namespace vn::test {

// One real service per test, in the test binary's private environment.
class ServiceTest : public ::testing::Test {
 protected:
  std::unique_ptr<ServiceProcess> StartService(ServiceProcess::Environment overrides = {}) {
    auto service = std::make_unique<ServiceProcess>(VARNEL_SERVICE_BINARY, std::move(overrides));
    EXPECT_TRUE(service->Start()) << service->Errors();
    return service;
  }

  static nlohmann::json Ask(const ServiceProcess& service, const nlohmann::json& request) {
    return nlohmann::json::parse(service.Request(request.dump()));
  }

  static nlohmann::json List(const ServiceProcess& service) {
    return Ask(service, {{"type", "list_downloads"}})["downloads"];
  }

  static std::filesystem::path DataRoot() {
    return std::filesystem::path(std::getenv("LOCALAPPDATA")) / "VarnelV2";
  }

  static std::filesystem::path SocketPath() {
    return std::filesystem::path(std::getenv("XDG_RUNTIME_DIR")) / "VarnelV2";
  }
};

}  // namespace vn::test

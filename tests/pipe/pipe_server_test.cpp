#include "apps/service/pipe/pipe_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/pipe.h"
#include "tests/support/test_environment.h"

namespace vn {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string UniqueName() {
  static std::atomic<int> counter{0};
  return "VarnelV2-test" + std::to_string(counter.fetch_add(1));
}

std::optional<std::string> Ask(const std::string& name, const std::string& request) {
  return platform::SendPipeRequest(name, request, std::size_t{1} << 24, 5s);
}

TEST(PipeServer, AnswersWithTheInstalledHandler) {
  const std::string name = UniqueName();
  PipeServer server(name);
  server.SetHandler([](const std::string& request) { return "{\"echo\":" + request + "}"; });
  server.Start();
  EXPECT_EQ(Ask(name, "[1]"), "{\"echo\":[1]}");
  server.SetHandler([](const std::string&) { return "replaced"; });
  EXPECT_EQ(Ask(name, "[1]"), "replaced");
}

TEST(PipeServer, WithoutAHandlerAnswersNoHandlerRegistered) {
  const std::string name = UniqueName();
  PipeServer server(name);
  server.Start();
  const auto answer = Ask(name, "{\"type\":\"list_downloads\"}");
  EXPECT_EQ(answer, "{\"ok\":false,\"error\":\"No handler registered\"}");
  EXPECT_EQ(answer->size(), 44u);
}

TEST(PipeServer, StartAndStopAreIdempotentAndRestartable) {
  const std::string name = UniqueName();
  PipeServer server(name);
  server.Stop();
  server.SetHandler([](const std::string&) { return "up"; });
  server.Start();
  server.Start();  // a second listener would refuse the name and throw
  EXPECT_EQ(Ask(name, "?"), "up");
  server.Stop();
  server.Stop();
  EXPECT_FALSE(Ask(name, "?").has_value());
  server.Start();
  EXPECT_EQ(Ask(name, "?"), "up");
}

TEST(PipeServer, ClientOfABoundServerIsAnsweredOnceItStarts) {
  const std::string name = UniqueName();
  PipeServer server(name);
  server.Bind();
  PipeServer second(name);
  EXPECT_THROW(second.Bind(), std::runtime_error);
  std::optional<std::string> answer;
  std::thread client([&] { answer = Ask(name, "early"); });
  server.SetHandler([](const std::string& request) { return "re:" + request; });
  server.Start();
  client.join();
  EXPECT_EQ(answer, "re:early");
}

TEST(PipeServer, ServesConcurrentClientsOneAtATime) {
  const std::string name = UniqueName();
  std::atomic<int> inside{0};
  std::atomic<int> mostInside{0};
  PipeServer server(name);
  server.SetHandler([&](const std::string& request) {
    const int now = ++inside;
    mostInside = std::max(mostInside.load(), now);
    std::this_thread::sleep_for(5ms);  // widens the window in which an overlap would show
    --inside;
    return "re:" + request;
  });
  server.Start();

  constexpr int kClients = 6;
  std::vector<std::optional<std::string>> answers(kClients);
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] { answers[i] = Ask(name, std::to_string(i)); });
  }
  for (auto& client : clients) client.join();
  for (int i = 0; i < kClients; ++i) EXPECT_EQ(answers[i], "re:" + std::to_string(i));
  EXPECT_EQ(mostInside.load(), 1);
}

TEST(PipeServer, SecondServiceOnTheSameNameFailsToStart) {
  const std::string name = UniqueName();
  PipeServer first(name);
  first.SetHandler([](const std::string&) { return "first"; });
  first.Start();
  PipeServer second(name);
  try {
    second.Start();
    ADD_FAILURE() << "second server started";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()),
              "A service is already running on " + platform::PipePath(name).string());
  }
  EXPECT_EQ(Ask(name, "?"), "first");
}

TEST(PipeServer, StartFailsInAnUnsafeRuntimeFolder) {
  test::TempFolder temp;
  fs::permissions(temp.path(), fs::perms::owner_all | fs::perms::others_exec);
  const std::string saved = std::getenv("XDG_RUNTIME_DIR");
  setenv("XDG_RUNTIME_DIR", temp.path().c_str(), 1);
  PipeServer server(UniqueName());
  EXPECT_THROW(server.Start(), std::runtime_error);
  setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

TEST(PipeServer, DestructionRemovesTheSocketFile) {
  const std::string name = UniqueName();
  {
    PipeServer server(name);
    server.Start();
    EXPECT_TRUE(fs::exists(platform::PipePath(name)));
  }
  EXPECT_FALSE(fs::exists(platform::PipePath(name)));
}

}  // namespace
}  // namespace vn

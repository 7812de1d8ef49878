// The request channel's framing and bounded waits, through its public calls
// and a raw client: the same cases for the Unix socket and the named pipe.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/pipe.h"
#include "tests/platform/raw_pipe_client.h"
#include "tests/support/test_environment.h"

namespace vn::platform {
namespace {

using namespace std::chrono_literals;
using test::RawPipeClient;

constexpr auto kTimeout = 5s;
constexpr std::size_t kUnlimited = std::size_t{1} << 30;

std::string UniqueName() {
  static std::atomic<int> counter{0};
  return "channel" + std::to_string(counter.fetch_add(1));
}

std::optional<std::string> Ask(const std::string& name, const std::string& request) {
  return SendPipeRequest(name, request, kUnlimited, kTimeout);
}

PipeListener::Handler Echo() {
  return [](const std::string& request) { return "re:" + request; };
}

std::string ErrorText(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "(no exception)";
}

TEST(Pipe, Answers8191BytesButNotALongerOrEmptyRequest) {
  const std::string name = UniqueName();
  std::atomic<int> calls{0};
  PipeListener listener(name, [&](const std::string& request) {
    ++calls;
    return std::to_string(request.size());
  });
  listener.Start();
  EXPECT_EQ(Ask(name, std::string(8191, 'a')), "8191");
  EXPECT_EQ(Ask(name, std::string(8192, 'a')), "");
  EXPECT_EQ(Ask(name, std::string(100000, 'a')), "");
  EXPECT_EQ(Ask(name, ""), "");
  EXPECT_EQ(calls.load(), 1);
  EXPECT_EQ(Ask(name, "ok"), "2");
}

TEST(Pipe, AnswersOnlyTheFirstRecordOfAConnection) {
  const std::string name = UniqueName();
  std::atomic<int> calls{0};
  PipeListener listener(name, [&](const std::string& request) {
    ++calls;
    return "re:" + request;
  });
  listener.Start();
  RawPipeClient client(name);
  ASSERT_TRUE(client.Connected());
  ASSERT_TRUE(client.Send("first"));
  // The server may have answered and closed already, so this send may fail.
  client.Send("second");
  EXPECT_EQ(client.ReadToEnd(), "re:first");
  EXPECT_EQ(calls.load(), 1);
}

TEST(Pipe, LongResponseArrivesWholeOrCutAtTheClientsLimit) {
  const std::string name = UniqueName();
  const std::string big = test::MakeContent(1000000, 7);
  PipeListener listener(name, [&](const std::string&) { return big; });
  listener.Start();
  EXPECT_EQ(Ask(name, "list"), big);
  EXPECT_EQ(SendPipeRequest(name, "list", 32767, kTimeout), big.substr(0, 32767));
  EXPECT_EQ(Ask(name, "list again"), big);
}

TEST(PipeListener, RefusesANameAnotherListenerServes) {
  const std::string name = UniqueName();
  PipeListener first(name, Echo());
  first.Start();
  EXPECT_EQ(ErrorText([&] { PipeListener second(name, Echo()); }),
            "A service is already running on " + PipePath(name).string());
  EXPECT_EQ(Ask(name, "still"), "re:still");
}

TEST(PipeListener, DropsASilentClientAndServesTheNext) {
  const std::string name = UniqueName();
  PipeListener listener(name, Echo(), 200ms);
  listener.Start();
  RawPipeClient silent(name);
  ASSERT_TRUE(silent.Connected());
  EXPECT_EQ(Ask(name, "next"), "re:next");
  EXPECT_EQ(silent.ReadToEnd(), "");
}

TEST(PipeListener, DropsAClientThatStopsReadingAndServesTheNext) {
  const std::string name = UniqueName();
  PipeListener listener(
      name,
      [](const std::string& request) {
        return request == "big" ? std::string(8 << 20, 'r') : "small";
      },
      200ms);
  listener.Start();
  RawPipeClient lazy(name);
  ASSERT_TRUE(lazy.Connected());
  ASSERT_TRUE(lazy.Send("big"));
  EXPECT_EQ(Ask(name, "next"), "small");
}

TEST(PipeListener, HandlerFailureClosesTheConnectionUnanswered) {
  const std::string name = UniqueName();
  PipeListener listener(name, [](const std::string& request) -> std::string {
    if (request == "fail") throw std::runtime_error("boom");
    return "fine";
  });
  listener.Start();
  EXPECT_EQ(Ask(name, "fail"), "");
  EXPECT_EQ(Ask(name, "other"), "fine");
}

TEST(PipeListener, StopDoesNotWaitForASilentClient) {
  const std::string name = UniqueName();
  PipeListener listener(name, Echo());
  listener.Start();
  RawPipeClient silent(name);
  ASSERT_TRUE(silent.Connected());
  auto stopped = std::async(std::launch::async, [&] { listener.Stop(); });
  EXPECT_EQ(stopped.wait_for(2s), std::future_status::ready);
}

TEST(PipeListener, StopDoesNotWaitForAClientThatNeverReads) {
  const std::string name = UniqueName();
  std::promise<void> answering;
  PipeListener listener(name, [&](const std::string&) {
    answering.set_value();
    return std::string(8 << 20, 'r');
  });
  listener.Start();
  RawPipeClient lazy(name);
  ASSERT_TRUE(lazy.Connected());
  ASSERT_TRUE(lazy.Send("list"));
  ASSERT_EQ(answering.get_future().wait_for(kTimeout), std::future_status::ready);
  auto stopped = std::async(std::launch::async, [&] { listener.Stop(); });
  EXPECT_EQ(stopped.wait_for(2s), std::future_status::ready);
}

TEST(Pipe, AnswersOf64KiBAndAroundTheBufferSizeArriveWhole) {
  const std::string name = UniqueName();
  PipeListener listener(name, [](const std::string& request) {
    return test::MakeContent(std::stoul(request), 5);
  });
  listener.Start();
  for (const std::size_t size : {8191u, 8192u, 8193u, 65536u, 65537u}) {
    EXPECT_EQ(Ask(name, std::to_string(size)), test::MakeContent(size, 5)) << size;
  }
}

TEST(Pipe, ConcurrentClientsAreAllAnsweredOneAtATime) {
  const std::string name = UniqueName();
  std::atomic<int> inside{0};
  std::atomic<int> overlapped{0};
  PipeListener listener(name, [&](const std::string& request) {
    if (++inside > 1) ++overlapped;
    --inside;
    return "re:" + request;
  });
  listener.Start();
  std::vector<std::future<std::optional<std::string>>> answers;
  for (int i = 0; i < 6; ++i) {
    answers.push_back(
        std::async(std::launch::async, [&, i] { return Ask(name, std::to_string(i)); }));
  }
  for (int i = 0; i < 6; ++i) EXPECT_EQ(answers[i].get(), "re:" + std::to_string(i));
  EXPECT_EQ(overlapped.load(), 0);
}

}  // namespace
}  // namespace vn::platform

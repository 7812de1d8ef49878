// Framing in both directions and what the host does with input it cannot use.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "apps/native-host/json_nesting.h"
#include "tests/native-host/host_process.h"
#include "tests/native-host/socket_peer.h"
#include "tests/support/test_environment.h"

namespace vn::test {
namespace {

constexpr const char* kChromePingReply =
    R"({"app":"Corbelle","browser":"chrome","host":"com.varnel.v2","ok":true})";

std::string ParseErrorOf(const std::string& text) {
  try {
    const auto value = nlohmann::json::parse(text);
    (void)value.value("url", std::string());
  } catch (const nlohmann::json::exception& error) {
    return std::string("Invalid native message JSON: ") + error.what();
  }
  return "no error";
}

std::string ErrorReply(const std::string& error) {
  return nlohmann::json{{"error", error}, {"ok", false}}.dump(
      -1, ' ', false, nlohmann::json::error_handler_t::replace);
}

class Framing : public ::testing::Test {
 protected:
  TempFolder folder;
  HostProcess host{HostBinary(), folder.path()};
};

TEST_F(Framing, ReplyLengthIsFourNativeBytesBeforeTheUntranslatedBody) {
  // The service's answer is relayed as it came, so its length is ours to choose.
  const std::string answer = "{\"ok\":12}\n";
  ASSERT_EQ(answer.size(), 10u);
  SocketPeer service(TestRoot() / "run" / "VarnelV2", answer);

  ASSERT_TRUE(host.Send(R"({"url":"https://example.test/file.zip"})"));
  EXPECT_EQ(host.ReadRaw(4), std::string("\x0A\x00\x00\x00", 4));
  EXPECT_EQ(host.ReadRaw(10), answer);
  host.CloseInput();
  EXPECT_TRUE(host.OutputEndsEmpty());
  EXPECT_EQ(host.WaitForExit(), 0);
}

TEST_F(Framing, TwentySixByteMessageIsReadWhole) {
  const std::string message = R"({"type":"ping","x":"abcd"})";
  ASSERT_EQ(message.size(), 26u);
  ASSERT_TRUE(host.WriteRaw(std::string("\x1A\x00\x00\x00", 4) + message));
  EXPECT_EQ(host.Receive(), R"({"app":"Corbelle","browser":"","host":"com.varnel.v2","ok":true})");
}

TEST_F(Framing, EndOfInputEndsTheHostWithExitCodeZero) {
  host.CloseInput();
  EXPECT_TRUE(host.OutputEndsEmpty());
  EXPECT_EQ(host.WaitForExit(), 0);
}

TEST_F(Framing, ZeroLengthMessageEndsTheHostWhileInputStaysOpen) {
  ASSERT_TRUE(host.WriteRaw(LengthPrefix(0)));
  EXPECT_TRUE(host.OutputEndsEmpty());
  EXPECT_EQ(host.WaitForExit(), 0);
}

TEST_F(Framing, PingThenEndOfInputGivesOneReplyAndExitCodeZero) {
  ASSERT_TRUE(host.Send(R"({"type":"ping","browser":"chrome"})"));
  host.CloseInput();
  EXPECT_EQ(host.Receive(), kChromePingReply);
  EXPECT_TRUE(host.OutputEndsEmpty());
  EXPECT_EQ(host.WaitForExit(), 0);
}

TEST_F(Framing, MessagesAreAnsweredInOrder) {
  ASSERT_TRUE(host.Send(R"({"type":"ping","browser":"a"})"));
  ASSERT_TRUE(host.Send(R"({"type":"ping","browser":"b"})"));
  EXPECT_EQ(host.Receive(), R"({"app":"Corbelle","browser":"a","host":"com.varnel.v2","ok":true})");
  EXPECT_EQ(host.Receive(), R"({"app":"Corbelle","browser":"b","host":"com.varnel.v2","ok":true})");
}

TEST_F(Framing, BodyCutShortEndsTheHostWithoutAReply) {
  ASSERT_TRUE(host.WriteRaw(LengthPrefix(100) + R"({"type":"ping")"));
  host.CloseInput();
  EXPECT_TRUE(host.OutputEndsEmpty());
  EXPECT_EQ(host.WaitForExit(), 0);
}

TEST_F(Framing, LengthPrefixCutShortEndsTheHostWithoutAReply) {
  ASSERT_TRUE(host.WriteRaw(std::string("\x05\x00", 2)));
  host.CloseInput();
  EXPECT_TRUE(host.OutputEndsEmpty());
  EXPECT_EQ(host.WaitForExit(), 0);
}

TEST_F(Framing, OversizedMessageIsSkippedAndTheNextOneServed) {
  const std::uint32_t size = 64 * 1024 * 1024 + 1;
  ASSERT_TRUE(host.WriteRaw(LengthPrefix(size)));
  const std::string chunk(1024 * 1024, 'x');
  for (std::uint32_t sent = 0; sent < size; sent += chunk.size()) {
    ASSERT_TRUE(host.WriteRaw(chunk.substr(0, std::min<std::size_t>(chunk.size(), size - sent))));
  }
  ASSERT_TRUE(host.Send(R"({"type":"ping","browser":"chrome"})"));
  EXPECT_EQ(host.Receive(), R"({"error":"Native message too large","ok":false})");
  EXPECT_EQ(host.Receive(), kChromePingReply);
}

TEST_F(Framing, OversizedMessageCutShortEndsTheHostWithoutAReply) {
  ASSERT_TRUE(host.WriteRaw(LengthPrefix(0xFFFFFFFFu) + std::string(4096, 'x')));
  host.CloseInput();
  EXPECT_TRUE(host.OutputEndsEmpty());
  EXPECT_EQ(host.WaitForExit(), 0);
}

TEST_F(Framing, NestingIsBoundedBeforeParsingAndBracketsInStringsDoNotCount) {
  const std::string tooDeep = R"({"error":"Native message nested too deeply","ok":false})";
  const auto nested = [](std::size_t depth) {
    return R"({"type":"ping","browser":"chrome","s":"[[[{{{\"[[[","n":)" +
           std::string(depth - 1, '[') + std::string(depth - 1, ']') + "}";
  };
  const struct {
    std::string message;
    std::string reply;
  } cases[] = {
      // Unbounded, this took gigabytes and many seconds; the bound answers at once.
      {std::string(64 * 1024 * 1024, '['), tooDeep},
      {nested(kMaxJsonNesting), kChromePingReply},
      {nested(kMaxJsonNesting + 1), tooDeep},
  };
  for (const auto& each : cases) {
    EXPECT_EQ(host.Ask(each.message), each.reply) << each.message.substr(0, 80);
  }
}

TEST_F(Framing, TrailingGarbageIsInvalidJsonAndTheHostGoesOn) {
  const std::string message = R"({"type":"ping"} x)";
  EXPECT_EQ(host.Ask(message), ErrorReply(ParseErrorOf(message)));
  EXPECT_EQ(host.Ask(R"({"type":"ping","browser":"chrome"})"), kChromePingReply);
}

TEST_F(Framing, JsonThatIsNotAnObjectIsAnsweredAndTheHostGoesOn) {
  for (const std::string message : {"[1,2]", "\"ping\"", "null", "7"}) {
    const auto reply = host.Ask(message);
    EXPECT_EQ(reply, ErrorReply(ParseErrorOf(message))) << message;
  }
  EXPECT_EQ(
      host.Ask("[1,2]"),
      R"({"error":"Invalid native message JSON: [json.exception.type_error.306] cannot use value() with array","ok":false})");
  EXPECT_EQ(host.Ask(R"({"type":"ping","browser":"chrome"})"), kChromePingReply);
}

TEST_F(Framing, MemberOfTheWrongTypeIsAnsweredAndTheHostGoesOn) {
  for (const std::string message :
       {R"({"url":5})", R"({"type":["ping"]})", R"({"type":"ping","browser":true})",
        R"({"type":"ping","browser":"b","extensionId":{}})",
        R"({"url":"https://x.test/f.zip","source":1})",
        R"({"filename":null,"url":"https://x.test/f.zip"})"}) {
    const auto reply = host.Ask(message);
    ASSERT_TRUE(reply.has_value()) << message;
    EXPECT_TRUE(reply->starts_with(
        R"({"error":"Invalid native message JSON: [json.exception.type_error.302] type must be string, but is )"))
        << *reply;
  }
  EXPECT_EQ(host.Ask(R"({"type":"ping","browser":"chrome"})"), kChromePingReply);
}

TEST_F(Framing, BytesThatAreNotUtf8ReachTheReplyAsReplacementCharacters) {
  const std::string message = "{\"url\":\"x\xff\xfe\"}";
  const auto reply = host.Ask(message);
  ASSERT_TRUE(reply.has_value());
  EXPECT_TRUE(nlohmann::json::accept(*reply)) << *reply;
  EXPECT_NE(reply->find("\xEF\xBF\xBD"), std::string::npos) << *reply;
  EXPECT_EQ(*reply, ErrorReply(ParseErrorOf(message)));
  EXPECT_EQ(host.Ask(R"({"type":"ping","browser":"chrome"})"), kChromePingReply);
}

}  // namespace
}  // namespace vn::test

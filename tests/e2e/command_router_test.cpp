#include <string>

#include "tests/e2e/service_fixture.h"

namespace vn::test {
namespace {

class CommandRouter : public ServiceTest {
 protected:
  void SetUp() override { service = StartService(); }
  void TearDown() override { EXPECT_EQ(service->Stop(), 0); }

  std::string Send(const std::string& request) { return service->Request(request); }

  std::unique_ptr<ServiceProcess> service;
};

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

TEST_F(CommandRouter, AnswersUnknownAndMissingTypes) {
  EXPECT_EQ(Send("{}"), R"({"error":"Unknown request type","ok":false})");
  EXPECT_EQ(Send(R"({"type":""})"), R"({"error":"Unknown request type","ok":false})");
  EXPECT_EQ(Send(R"({"type":"LIST_DOWNLOADS"})"), R"({"error":"Unknown request type","ok":false})");
  EXPECT_EQ(Send(R"({"type":"no_such_command","id":"x"})"),
            R"({"error":"Unknown request type","ok":false})");
}

TEST_F(CommandRouter, MalformedRequestsGetTheLibrarysMessage) {
  const auto notJson = nlohmann::json::parse(Send("not json"));
  EXPECT_EQ(notJson["ok"], false);
  EXPECT_TRUE(StartsWith(notJson["error"], "Invalid JSON request: [json.exception.parse_error."))
      << notJson;

  const auto trailing = nlohmann::json::parse(Send(R"({"type":"list_downloads"} x)"));
  EXPECT_TRUE(StartsWith(trailing["error"], "Invalid JSON request: [json.exception.parse_error."));

  const auto array = nlohmann::json::parse(Send("[1,2]"));
  EXPECT_EQ(array["error"],
            "Invalid JSON request: [json.exception.type_error.306] cannot use value() with array");

  const auto number = nlohmann::json::parse(Send("42"));
  EXPECT_TRUE(StartsWith(number["error"],
                         "Invalid JSON request: [json.exception.type_error.306] "
                         "cannot use value() with number"));

  const auto wrongType = nlohmann::json::parse(Send(R"({"type":7})"));
  EXPECT_EQ(wrongType["error"],
            "Invalid JSON request: [json.exception.type_error.302] type must be string, but is "
            "number");

  const auto comment = nlohmann::json::parse(Send("/* c */ {\"type\":\"list_downloads\"}"));
  EXPECT_TRUE(StartsWith(comment["error"], "Invalid JSON request: "));
}

TEST_F(CommandRouter, InvalidUtf8InARequestStillGetsValidJson) {
  const std::string answer = Send("{\"type\":\"\xff\xfe\"");
  const auto parsed = nlohmann::json::parse(answer);  // throws if not valid UTF-8 JSON
  EXPECT_EQ(parsed["ok"], false);
  EXPECT_TRUE(StartsWith(parsed["error"], "Invalid JSON request: "));
  // The service keeps serving.
  EXPECT_EQ(Send(R"({"type":"list_downloads"})"), R"({"downloads":[],"ok":true})");
}

TEST_F(CommandRouter, ListsNothingWhenEmptyAndIgnoresExtraMembers) {
  EXPECT_EQ(Send(R"({"type":"list_downloads"})"), R"({"downloads":[],"ok":true})");
  EXPECT_EQ(Send(R"({"type":"list_downloads","id":5,"extra":[1]})"),
            R"({"downloads":[],"ok":true})");
}

}  // namespace
}  // namespace vn::test

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "apps/protocol/answers.h"
#include "apps/protocol/json_text.h"

namespace vn {
namespace {

TEST(Answers, AreTheProtocolsExactBytes) {
  EXPECT_EQ(OkAnswer(true), R"({"ok":true})");
  EXPECT_EQ(OkAnswer(false), R"({"ok":false})");
  EXPECT_EQ(IdAnswer("dl_1"), R"({"id":"dl_1","ok":true})");
  EXPECT_EQ(ErrorAnswer("Task not found"), R"({"error":"Task not found","ok":false})");
  EXPECT_EQ(OkFirstErrorAnswer("Service unavailable"),
            R"({"ok":false,"error":"Service unavailable"})");
}

TEST(JsonText, WritesSortedUnescapedTextAndReplacesBytesThatAreNotUtf8) {
  const nlohmann::json value = {{"z", "Grüße \"q\""}, {"a", {1, 2}}};
  EXPECT_EQ(CompactJson(value), "{\"a\":[1,2],\"z\":\"Grüße \\\"q\\\"\"}");
  EXPECT_EQ(IndentedJson(value), value.dump(2));
  for (const std::string bad : {"\xff", "\xC0\xAF", "\xED\xA0\x80", "\xE2\x82", "a\x80z"}) {
    EXPECT_FALSE(IsValidUtf8(bad)) << bad;
    const auto text = CompactJson({{"name", bad}});
    EXPECT_TRUE(nlohmann::json::accept(text)) << text;
    EXPECT_NE(text.find("\xEF\xBF\xBD"), std::string::npos) << text;
    EXPECT_TRUE(nlohmann::json::accept(IndentedJson({bad})));
  }
  EXPECT_TRUE(IsValidUtf8("Grüße \xF0\x9F\x98\x80 \xEF\xBF\xBF"));
}

TEST(CaptureAcceptance, OnlyTheCompactOkTrueTextAccepts) {
  const struct {
    const char* reply;
    bool accepted;
  } kCases[] = {
      {R"({"ok":true})", true},        {R"(accepted "ok":true.)", true},
      {R"({"id":1,"ok":true})", true}, {R"({"ok": true})", false},
      {R"({"ok" :true})", false},      {R"({"ok":false})", false},
      {R"({"ok":"true"})", false},     {"", false},
  };
  for (const auto& each : kCases)
    EXPECT_EQ(IsCaptureAccepted(each.reply), each.accepted) << each.reply;
}

}  // namespace
}  // namespace vn

// Captures that nobody in the desktop takes go to the service, and its answer
// goes back to the browser as it came.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>

#include "tests/native-host/host_process.h"
#include "tests/native-host/socket_peer.h"
#include "tests/support/service_process.h"
#include "tests/support/test_environment.h"

namespace vn::test {
namespace {

std::filesystem::path ServiceSocket() { return TestRoot() / "run" / "VarnelV2"; }

class ServiceRelay : public ::testing::Test {
 protected:
  std::optional<std::string> Ask(const std::string& message) {
    HostProcess host(program, folder.path());
    return host.Ask(message);
  }

  TempFolder folder;
  std::filesystem::path program = CopyHostInto(folder.path() / "bin");
};

TEST_F(ServiceRelay, NoServiceGivesServiceUnavailable) {
  EXPECT_EQ(Ask(R"({"url":"https://example.test/f.zip"})"),
            R"({"ok":false,"error":"Service unavailable"})");
}

TEST_F(ServiceRelay, StaleSocketFileCountsAsNoService) {
  { SocketPeer gone(ServiceSocket(), "{}"); }
  WriteFile(ServiceSocket(), "");
  EXPECT_EQ(Ask(R"({"url":"https://example.test/f.zip"})"),
            R"({"ok":false,"error":"Service unavailable"})");
  std::filesystem::remove(ServiceSocket());
}

TEST_F(ServiceRelay, EnqueueRequestHoldsEveryMemberAndTheAnswerIsRelayedAsItCame) {
  const std::string answer = "{\"ok\":true,  \"id\":\"dl_7\"}";
  SocketPeer service(ServiceSocket(), answer);
  EXPECT_EQ(Ask(R"({"url":"https://example.test/f.zip","source":"popup"})"), answer);
  const nlohmann::json expected = {{"fileName", ""},
                                   {"outputPath", (TestRoot() / "downloads").string()},
                                   {"referrer", ""},
                                   {"type", "enqueue_download"},
                                   {"url", "https://example.test/f.zip"}};
  EXPECT_EQ(service.Requests(), std::vector<std::string>{expected.dump()});
}

TEST_F(ServiceRelay, AFileNameHoldingAZeroByteIsNotPassedOn) {
  SocketPeer service(ServiceSocket(), R"({"ok":true,"id":"dl_8"})");
  for (const std::string name : {"\\u0000", "a\\u0000b"}) {
    Ask(R"({"url":"https://example.test/f.zip","filename":")" + name + R"("})");
  }
  for (const std::string& request : service.Requests()) {
    EXPECT_EQ(nlohmann::json::parse(request)["fileName"], "") << request;
  }
  EXPECT_EQ(service.Requests().size(), 2u);
}

TEST_F(ServiceRelay, EnqueueRequestCarriesFileNameAndReferrer) {
  SocketPeer service(ServiceSocket(), R"({"ok":true})");
  Ask(R"({"url":"https://example.test/f.zip","filename":"ü.zip","referrer":"https://r.test/"})");
  const auto requests = service.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(
      requests[0],
      R"({"fileName":"ü.zip","outputPath":")" + (TestRoot() / "downloads").string() +
          R"(","referrer":"https://r.test/","type":"enqueue_download","url":"https://example.test/f.zip"})");
}

TEST_F(ServiceRelay, TheBrowsersCookieAndUserAgentGoToTheServiceOnlyWhenUsable) {
  const std::string accepted = R"({"ok":true})";
  SocketPeer service(ServiceSocket(), accepted);
  const std::string folder = (TestRoot() / "downloads").string();
  const std::string head = R"({"fileName":"","outputPath":")" + folder + R"(","referrer":"",)";
  const std::string tail = R"("type":"enqueue_download","url":"https://example.test/f.zip"})";
  struct Row {
    const char* name;
    std::string members;
    std::string request;  // "" when the service must not be asked
    std::string reply;
  };
  const Row rows[] = {
      {"both", R"(,"cookie":"sid=1; a=b","userAgent":"Mozilla/5.0")",
       R"({"cookie":"sid=1; a=b",)" + head.substr(1) + tail.substr(0, tail.size() - 1) +
           R"(,"userAgent":"Mozilla/5.0"})",
       accepted},
      {"empty ones are left out", R"(,"cookie":"","userAgent":"")", head + tail, accepted},
      {"a line break would add a header", R"(,"cookie":"a=1\r\nX-Evil: 1")", head + tail, accepted},
      {"a zero byte would cut it short", R"(,"userAgent":"UA\u0000x")", head + tail, accepted},
      {"cookie too long for a request", R"(,"cookie":")" + std::string(8100, 'c') + "\"", "",
       R"({"error":"Browser cookies too long","ok":false})"},
      {"cookie of the wrong type", R"(,"cookie":1)", "",
       R"({"error":"Invalid native message JSON: [json.exception.type_error.302] type must be string, but is number","ok":false})"},
  };
  std::size_t asked = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Ask(R"({"url":"https://example.test/f.zip")" + row.members + "}"), row.reply);
    ASSERT_NO_FATAL_FAILURE(ExpectRequestsSoFar(service, row.request, asked));
  }
}

TEST_F(ServiceRelay, ServiceClosingWithoutAnAnswerGivesAnErrorReply) {
  SocketPeer service(ServiceSocket(), "");
  EXPECT_EQ(Ask(R"({"url":"https://example.test/f.zip"})"),
            R"({"error":"Service did not answer","ok":false})");
}

TEST_F(ServiceRelay, RequestsLongerThanTheServiceReadsAreRefusedWithoutIt) {
  const std::string accepted = R"({"ok":true})";
  const std::string urlTooLong = R"({"error":"Download URL too long","ok":false})";
  const std::string nameTooLong = R"({"error":"File name too long","ok":false})";
  SocketPeer service(ServiceSocket(), accepted);
  const std::string url = "https://example.test/";
  const nlohmann::json empty = {{"fileName", ""},
                                {"outputPath", (TestRoot() / "downloads").string()},
                                {"referrer", ""},
                                {"type", "enqueue_download"},
                                {"url", url}};
  // Bytes left for the file name and the rest of the URL: the service reads
  // requests of up to 8191 bytes.
  const std::size_t room = 8191 - empty.dump().size();
  struct Row {
    const char* name;
    std::string url;
    std::string filename;
    std::string reply;
  };
  const Row rows[] = {
      {"URL that fills the request exactly", url + std::string(room, 'u'), "", accepted},
      {"URL one byte longer", url + std::string(room + 1, 'u'), "", urlTooLong},
      {"9 KB URL", url + std::string(9216, 'u'), "", urlTooLong},
      {"file name that fills the request exactly", url, std::string(room, 'n'), accepted},
      {"file name one byte longer", url, std::string(room + 1, 'n'), nameTooLong},
      {"long file name with a URL that alone fits", url + std::string(4000, 'u'),
       std::string(5000, 'n'), nameTooLong},
      {"both too long", url + std::string(9216, 'u'), std::string(9216, 'n'), urlTooLong},
  };
  std::size_t relayed = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const nlohmann::json capture = {{"url", row.url}, {"filename", row.filename}};
    EXPECT_EQ(Ask(capture.dump()), row.reply);
    if (row.reply == accepted) ++relayed;
    EXPECT_EQ(service.Requests().size(), relayed);
  }
  for (const std::string& request : service.Requests()) EXPECT_EQ(request.size(), 8191u);
}

#ifdef SERVICE_BINARY

TEST_F(ServiceRelay, RealServiceAnswersAreRelayedByteForByte) {
  // It must run where nothing but loopback exists (the tests are run in a
  // network namespace).
  ServiceProcess service(SERVICE_BINARY);
  ASSERT_TRUE(service.Start(std::chrono::seconds(20)));

  // A refused enqueue: the same request straight to the service gets the same bytes.
  const std::string refused =
      R"({"fileName":"../escape.zip","outputPath":")" + (TestRoot() / "downloads").string() +
      R"(","referrer":"","type":"enqueue_download","url":"http://127.0.0.1:9/f.zip"})";
  const auto direct = AskSocket(ServiceSocket(), refused);
  ASSERT_TRUE(direct.has_value());
  ASSERT_FALSE(direct->empty());
  EXPECT_EQ(Ask(R"({"url":"http://127.0.0.1:9/f.zip","filename":"../escape.zip"})"), *direct);

  // An accepted one lands in the service's list with the host's file name and
  // the download folder.
  const auto reply = Ask(
      R"({"url":"http://127.0.0.1:9/host.zip","filename":"host.zip","referrer":"https://r.test/"})");
  ASSERT_TRUE(reply.has_value());
  std::smatch match;
  const std::regex accepted(R"re(\{"id":"(dl_[0-9]+)","ok":true\})re");
  ASSERT_TRUE(std::regex_match(*reply, match, accepted)) << *reply;
  const auto listing = AskSocket(ServiceSocket(), R"({"type":"list_downloads"})");
  ASSERT_TRUE(listing.has_value());
  const auto downloads = nlohmann::json::parse(*listing).at("downloads");
  bool found = false;
  for (const auto& download : downloads) {
    if (download.at("id") != match[1].str()) continue;
    found = true;
    EXPECT_EQ(download.at("fileName"), "host.zip");
    EXPECT_EQ(download.at("outputPath"), (TestRoot() / "downloads").string());
  }
  EXPECT_TRUE(found) << *listing;
}

#endif  // SERVICE_BINARY

}  // namespace
}  // namespace vn::test

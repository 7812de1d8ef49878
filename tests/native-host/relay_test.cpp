// The four service commands the browser may send through the host: relayed as
// the service's own commands, answered as the service answers, and nothing
// else relayed.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>

#include "tests/native-host/host_process.h"
#include "tests/native-host/socket_peer.h"
#include "tests/support/service_process.h"
#include "tests/support/test_environment.h"

namespace vn::test {
namespace {

std::filesystem::path ServiceSocket() { return TestRoot() / "run" / "VarnelV2"; }

constexpr const char* kTaskNotFound = R"({"error":"Task not found","ok":false})";
constexpr const char* kMissingUrl = R"({"error":"Missing url","ok":false})";

class Relay : public ::testing::Test {
 protected:
  TempFolder folder;
  std::filesystem::path program = CopyHostInto(folder.path() / "bin");
};

TEST_F(Relay, OnlyTheFourCommandsReachTheServiceAndTheirAnswersComeBackAsTheyCame) {
  // Blanks and member order no serializer of ours writes: any change shows.
  const std::string answer = R"({ "ok" : true })";
  SocketPeer service(ServiceSocket(), answer);
  const std::string longId(8200, 'i');
  struct Row {
    const char* name;
    std::string message;
    std::string request;  // "" when the service must not be asked
    std::string reply;
  };
  const Row rows[] = {
      {"pause", R"({"type":"pause_download","id":"dl_1"})",
       R"({"id":"dl_1","type":"pause_download"})", answer},
      {"resume", R"({"type":"resume_download","id":"tor_2_1","url":"x"})",
       R"({"id":"tor_2_1","type":"resume_download"})", answer},
      {"cancel", R"({"id":"dl_3","type":"cancel_download","deleteFile":true})",
       R"({"id":"dl_3","type":"cancel_download"})", answer},
      {"id with a zero byte", R"({"type":"cancel_download","id":"dl_1\u0000"})", "", kTaskNotFound},
      {"id longer than a request", R"({"type":"pause_download","id":")" + longId + "\"}", "",
       kTaskNotFound},
      {"id of the wrong type", R"({"type":"pause_download","id":7})", "",
       R"({"error":"Invalid native message JSON: [json.exception.type_error.302] type must be string, but is number","ok":false})"},
      {"delete is a capture", R"({"type":"delete_download","id":"dl_1","deleteFile":true})", "",
       kMissingUrl},
      {"names compare exactly", R"({"type":"Pause_download","id":"dl_1"})", "", kMissingUrl},
      {"nested too deeply",
       R"({"type":"pause_download","id":"dl_1","x":)" + std::string(300, '[') +
           std::string(300, ']') + "}",
       "", R"({"error":"Native message nested too deeply","ok":false})"},
  };
  // One host for every row, as a popup keeps one port open.
  HostProcess host(program, folder.path());
  std::size_t asked = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(host.Ask(row.message), row.reply);
    ASSERT_NO_FATAL_FAILURE(ExpectRequestsSoFar(service, row.request, asked));
  }
}

TEST_F(Relay, NoServiceGivesServiceUnavailable) {
  HostProcess host(program, folder.path());
  EXPECT_EQ(host.Ask(R"({"type":"list_downloads"})"),
            R"({"ok":false,"error":"Service unavailable"})");
}

std::string IdOf(int n) {
  const std::string ms = std::to_string(1733470000000 + n);
  return n % 10 == 0 ? "tor_" + ms + "_" + std::to_string(n) : "dl_" + ms;
}

nlohmann::json Entry(const std::string& id, std::size_t padding) {
  return {{"id", id}, {"url", "https://example.test/" + std::string(padding, 'p')}};
}

TEST_F(Relay, ListsHoldTheNewestDownloadsWithinWhatABrowserTakes) {
  // 10,000 downloads of some 1,100 bytes in no order, torrents among them:
  // 1,000 of them would pass the browsers' 1 MB.
  std::vector<nlohmann::json> entries;
  for (int n = 0; n < 10000; ++n) entries.push_back(Entry(IdOf(n), 1100));
  entries.push_back(Entry("dl_1733479999999", 1200000));  // the newest, too large alone
  entries.push_back(Entry("legacy", 10));                 // no time in its id: the oldest
  std::shuffle(entries.begin(), entries.end(), std::mt19937(27));
  const nlohmann::json list = {{"downloads", entries}, {"ok", true}};
  SocketPeer service(ServiceSocket(), list.dump());

  struct Row {
    const char* name;
    std::string limitMember;
    std::size_t least;
    std::size_t most;
  };
  const Row rows[] = {
      {"default", "", 200, 200},
      {"limit 3", R"(,"limit":3)", 3, 3},
      {"limit 0 reads as 1", R"(,"limit":0)", 1, 1},
      {"negative reads as 1", R"(,"limit":-5)", 1, 1},
      {"beyond any integer", R"(,"limit":1e300)", 800, 900},
      {"as many as fit in 1 MB", R"(,"limit":100000)", 800, 900},
  };
  HostProcess host(program, folder.path());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const auto reply = host.Ask(R"({"type":"list_downloads")" + row.limitMember + "}");
    ASSERT_TRUE(reply.has_value());
    EXPECT_LE(reply->size(), 1000000u);
    const auto answer = nlohmann::json::parse(*reply);
    EXPECT_EQ(answer.at("ok"), true);
    EXPECT_EQ(answer.at("total"), 10002);
    const auto& downloads = answer.at("downloads");
    EXPECT_GE(downloads.size(), row.least);
    EXPECT_LE(downloads.size(), row.most);
    for (std::size_t rank = 0; rank < downloads.size(); ++rank) {
      ASSERT_EQ(downloads[rank].at("id"), IdOf(9999 - static_cast<int>(rank))) << rank;
    }
  }
  EXPECT_EQ(service.Requests(), std::vector<std::string>(6, R"({"type":"list_downloads"})"));
}

#ifdef SERVICE_BINARY

TEST_F(Relay, RealServiceIsSteeredThroughTheHost) {
  // It must run where nothing but loopback exists (the tests are run in a
  // network namespace); port 9 refuses, so the downloads wait and stay listed.
  // A list of its own: other tests of this binary may have left downloads in
  // the shared data root when they run in one process.
  ServiceProcess service(SERVICE_BINARY, {{"LOCALAPPDATA", (folder.path() / "data").string()}});
  ASSERT_TRUE(service.Start(std::chrono::seconds(20)));
  HostProcess host(program, folder.path());
  std::vector<std::string> ids;
  for (const std::string name : {"a.zip", "b.zip", "c.zip"}) {
    const auto reply = host.Ask(R"({"url":"http://127.0.0.1:9/)" + name + R"("})");
    ASSERT_TRUE(reply.has_value());
    ids.push_back(nlohmann::json::parse(*reply).at("id"));
  }

  const auto listed =
      nlohmann::json::parse(host.Ask(R"({"type":"list_downloads","limit":2})").value());
  EXPECT_EQ(listed.at("total"), 3);
  ASSERT_EQ(listed.at("downloads").size(), 2u);
  EXPECT_EQ(listed["downloads"][0].at("id"), ids[2]);
  EXPECT_EQ(listed["downloads"][1].at("id"), ids[1]);
  EXPECT_EQ(listed["downloads"][0].at("fileName"), "c.zip");

  // A pause is carried out; a refusal comes back as the service writes it.
  EXPECT_EQ(host.Ask(R"({"type":"pause_download","id":")" + ids[0] + "\"}"), R"({"ok":true})");
  const auto all = nlohmann::json::parse(service.Request(R"({"type":"list_downloads"})"));
  EXPECT_EQ(all.at("downloads")[0].at("status"), "Paused");
  const std::string unknown = R"({"id":"dl_1","type":"cancel_download"})";
  EXPECT_EQ(host.Ask(unknown), service.Request(unknown));
}

#endif  // SERVICE_BINARY

}  // namespace
}  // namespace vn::test

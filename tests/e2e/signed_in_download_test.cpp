// Downloads that need the browser's session: the cookie fetches the file, and
// is never kept, listed or written; a restart loses it, and the refusal that
// follows is named as an expired sign-in.
#include <filesystem>

#include "tests/e2e/download_fixture.h"

namespace vn::test {
namespace {

using SignedInDownload = DownloadTest;

constexpr const char* kCookie = "sid=secret-4711";
constexpr const char* kSecret = "secret-4711";

TEST_F(SignedInDownload, CookieIsNeverKeptAndItsLossAfterARestartIsNamed) {
  const std::string body = MakeContent(1 << 20, 5);
  ResourceOptions resource;
  resource.body = body;
  resource.requiredCookie = kCookie;
  server.SetResource("/account/report.pdf", resource);
  const std::string url = server.Url("/account/report.pdf");

  const auto fetched = Enqueue({{"url", url}, {"cookie", kCookie}, {"fileName", "a.pdf"}});
  EXPECT_EQ(WaitForStatus(fetched, "Completed")["failureReason"], "");
  EXPECT_EQ(Sha256Hex(ReadFile(OutputFile("a.pdf"))), Sha256Hex(body));

  // A second one waits for the server, which is away, while the service stops.
  server.GoDown();
  const auto waiting = Enqueue({{"url", url}, {"cookie", kCookie}, {"fileName", "b.pdf"}});
  WaitUntil(waiting, [](const nlohmann::json& task) { return task["status"] == "Downloading"; });
  EXPECT_EQ(Send({{"type", "list_downloads"}}).dump().find(kSecret), std::string::npos);
  Restart();
  for (const auto& entry : std::filesystem::recursive_directory_iterator(DataRoot())) {
    if (!entry.is_regular_file()) continue;
    EXPECT_EQ(ReadFile(entry.path()).find(kSecret), std::string::npos) << entry.path();
  }

  server.ComeBack();
  EXPECT_EQ(Send({{"type", "resume_download"}, {"id", waiting}})["ok"], true);
  EXPECT_EQ(WaitForStatus(waiting, "Failed")["failureReason"],
            "Sign-in expired: capture the download again or refresh its link");
  EXPECT_EQ(service->Output().find(kSecret), std::string::npos);
  EXPECT_EQ(service->Errors().find(kSecret), std::string::npos);
}

TEST_F(SignedInDownload, ANewLinkElsewhereGoesWithoutTheCookie) {
  const std::string body = MakeContent(256 << 10, 6);
  HttpTestServer elsewhere(1, "127.0.0.2");
  ResourceOptions resource;
  resource.body = body;
  resource.requiredCookie = kCookie;
  server.SetResource("/new-link.bin", resource);
  resource.requiredCookie.clear();
  elsewhere.SetResource("/new-link.bin", resource);
  struct Row {
    const char* name;
    std::string newUrl;
    HttpTestServer* newServer;
    std::string cookieSeen;
  };
  const Row rows[] = {
      {"same origin keeps it", server.Url("/new-link.bin"), &server, kCookie},
      {"another host goes without", elsewhere.Url("/new-link.bin"), &elsewhere, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const auto id = Enqueue({{"url", server.Url("/old-link.bin")}, {"cookie", kCookie}});
    WaitForStatus(id, "Failed");  // 404: the old link is gone
    EXPECT_EQ(Send({{"type", "update_download_url"}, {"id", id}, {"url", row.newUrl}})["ok"], true);
    EXPECT_EQ(Send({{"type", "resume_download"}, {"id", id}})["ok"], true);
    EXPECT_EQ(WaitForStatus(id, "Completed")["failureReason"], "");
    EXPECT_EQ(row.newServer->LastRequestHeader("/new-link.bin", "Cookie"), row.cookieSeen);
  }
}

}  // namespace
}  // namespace vn::test

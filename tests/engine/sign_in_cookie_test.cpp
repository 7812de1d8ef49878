// Downloads with the browser's cookie: it goes to the URL's own origin and
// nowhere else, and a download that lost it says the sign-in expired.
#include <gtest/gtest.h>

#include "tests/engine/engine_test_support.h"
#include "tests/http_server/http_test_server.h"
#include "tests/support/test_environment.h"

namespace vn {
namespace {

constexpr const char* kCookie = "sid=42; theme=dark";
constexpr const char* kSignInExpired =
    "Sign-in expired: capture the download again or refresh its link";

TEST(SignInCookie, GoesOnlyToTheOriginItWasCapturedFor) {
  // 5 MiB: several connections, each following the redirect by itself.
  const std::string body = test::MakeContent(5 * 1048576, 7);
  test::HttpTestServer home;
  test::HttpTestServer samePortElsewhere(1, "127.0.0.2");
  test::HttpTestServer otherPort;
  const test::ResourceOptions signedIn{.body = body, .requiredCookie = kCookie};
  const test::ResourceOptions open{.body = body};

  struct Row {
    const char* name;
    std::string path;             // asked of home; a redirect when final is another path
    test::HttpTestServer* final;  // where the file is served, at path + ".bin"
    test::ResourceOptions served;
    std::string cookie;
    bool signedIn;
    std::string failure;     // "" for Completed
    std::string cookieSeen;  // by the server of the file
  };
  const Row rows[] = {
      {"own origin", "/own.bin", &home, signedIn, kCookie, true, "", kCookie},
      {"without it the server refuses", "/refused.bin", &home, signedIn, "", false,
       "Server returned HTTP 403", ""},
      {"lost in a restart", "/lost.bin", &home, signedIn, "", true, kSignInExpired, ""},
      {"lost, and the file is gone",
       "/gone.bin",
       &home,
       {.status = 404},
       "",
       true,
       "Server returned HTTP 404",
       ""},
      {"redirect within the origin", "/hop", &home, signedIn, kCookie, true, "", kCookie},
      {"redirect to another host", "/away", &samePortElsewhere, open, kCookie, true, "", ""},
      {"another host that wants it refuses", "/away-refused", &samePortElsewhere, signedIn, kCookie,
       true, "Server returned HTTP 403", ""},
      {"redirect to another port", "/port", &otherPort, open, kCookie, true, "", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const bool redirected = !row.path.ends_with(".bin");
    const std::string filePath = redirected ? row.path + ".bin" : row.path;
    row.final->SetResource(filePath, row.served);
    if (redirected) home.SetResource(row.path, {.redirectTo = row.final->Url(filePath)});
    test::TempFolder folder;
    DownloadTask task = test::MakeTask(home.Url(row.path), folder.path());
    task.cookie = row.cookie;
    task.signedIn = row.signedIn;
    const DownloadTask end = test::RunToEnd(task);
    EXPECT_EQ(end.failureReason, row.failure);
    EXPECT_EQ(end.status, row.failure.empty() ? DownloadStatus::Completed : DownloadStatus::Failed);
    if (row.failure.empty()) {
      EXPECT_EQ(end.actualChecksum, test::Sha256Hex(body));
    }
    EXPECT_EQ(row.final->LastRequestHeader(filePath, "Cookie"), row.cookieSeen);
    // The redirecting answer itself came from the origin: it had the cookie.
    if (redirected) {
      EXPECT_EQ(home.LastRequestHeader(row.path, "Cookie"), row.cookie);
    }
  }
}

}  // namespace
}  // namespace vn

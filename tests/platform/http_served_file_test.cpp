// The HTTP seam against a server in another process: the Windows test run
// starts serve-file on 127.0.0.1 and passes VARNEL_TEST_URL (the file's URL)
// and VARNEL_TEST_FILE (the file, as this program sees it).
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/http.h"
#include "tests/support/test_environment.h"

namespace vn::test {
namespace {

using platform::ByteRange;
using platform::HttpOutcome;

struct Fetched {
  platform::HttpResult result;
  platform::HttpResponseHead head;
  std::string body;
};

Fetched Fetch(const std::string& url, const std::optional<ByteRange>& range) {
  platform::HttpSession session;
  platform::HttpConnection connection(session);
  Fetched fetched;
  platform::HttpCallbacks callbacks;
  callbacks.onHead = [&](const platform::HttpResponseHead& head) {
    fetched.head = head;
    return true;
  };
  callbacks.onChunk = [&](const char* data, std::size_t size) {
    fetched.body.append(data, size);
    return true;
  };
  fetched.result = connection.Get(platform::MakeRequestTarget(url, "", ""), range, callbacks);
  return fetched;
}

TEST(HttpServedFile, WholeRangedRedirectedMissingAndRefused) {
  const char* url = std::getenv("VARNEL_TEST_URL");
  const char* file = std::getenv("VARNEL_TEST_FILE");
  if (url == nullptr || file == nullptr) GTEST_SKIP() << "no served file";
  const std::string content = ReadFile(file);
  ASSERT_GT(content.size(), 1000u);
  const std::string base(url);
  const std::string origin = base.substr(0, base.find('/', 8));
  const std::string name = base.substr(base.rfind('/'));
  const std::string total = std::to_string(content.size());

  struct Case {
    std::string url;
    std::optional<ByteRange> range;
    HttpOutcome outcome;
    long status;
    std::string body;
    std::string contentRange;
  };
  const Case cases[] = {
      {base, std::nullopt, HttpOutcome::Completed, 200, content, ""},
      {base, ByteRange{0, 0}, HttpOutcome::Completed, 206, content.substr(0, 1),
       "bytes 0-0/" + total},
      {base, ByteRange{100, 999}, HttpOutcome::Completed, 206, content.substr(100, 900),
       "bytes 100-999/" + total},
      {origin + "/redirect" + name, std::nullopt, HttpOutcome::Completed, 200, content, ""},
      {origin + "/missing", std::nullopt, HttpOutcome::Completed, 404, "", ""},
      {"http://127.0.0.1:9/closed", std::nullopt, HttpOutcome::RequestFailed, 0, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    const Fetched fetched = Fetch(c.url, c.range);
    EXPECT_EQ(fetched.result.outcome, c.outcome);
    if (c.outcome == HttpOutcome::RequestFailed) {
      EXPECT_NE(fetched.result.errorCode, 0);
      continue;
    }
    EXPECT_EQ(fetched.head.status, c.status);
    EXPECT_EQ(fetched.head.contentRange, c.contentRange);
    if (c.status != 404) {
      EXPECT_EQ(fetched.head.contentLength, static_cast<std::int64_t>(c.body.size()));
      EXPECT_TRUE(fetched.body == c.body) << fetched.body.size() << " bytes";
    }
  }
}

TEST(HttpServedFile, OnlyAbsoluteHttpAndHttpsUrlsMakeATarget) {
  const auto target = platform::MakeRequestTarget("https://example.test/a/b?q=1#f", "", "r");
  EXPECT_EQ(target.port, 443);
  EXPECT_TRUE(target.secure);
  EXPECT_EQ(target.path, "/a/b?q=1#f");
  EXPECT_EQ(target.userAgent, "VarnelV2/0.1");
  const auto plain = platform::MakeRequestTarget("http://h:8080/x", "agent", "");
  EXPECT_EQ(plain.port, 8080);
  EXPECT_EQ(plain.host, "h");
  EXPECT_EQ(plain.userAgent, "agent");
  for (const char* bad : {"ftp://h/x", "not a url", "", "/relative"}) {
    EXPECT_THROW(platform::MakeRequestTarget(bad, "", ""), std::runtime_error) << bad;
  }
}

}  // namespace
}  // namespace vn::test

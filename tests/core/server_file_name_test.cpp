#include "apps/service/core/server_file_name.h"

#include <gtest/gtest.h>

#include <string>

#include "apps/service/core/url_file_name.h"

namespace vn {
namespace {

// What a server's header or a URL names, and the plain name the download gets;
// "" where nothing usable is named.
TEST(ServerFileName, NamesFromHeadersAndUrlsComeOutPlainAndSafe) {
  struct Case {
    std::string contentDisposition;
    std::string expected;
  };
  const std::string longName = std::string(300, 'x') + ".iso";
  const Case headers[] = {
      {"attachment; filename=report.pdf", "report.pdf"},
      {"attachment; filename=\"a \\\"quoted\\\" name.txt\"", "a \"quoted\" name.txt"},
      {"attachment; FILENAME*=UTF-8''%C3%BCber%20plan.txt; filename=fallback.txt", "über plan.txt"},
      {"attachment; filename=fallback.txt; filename*=utf-8''%E2%82%AC.txt", "€.txt"},
      {"attachment; filename*=ISO-8859-1''%FCber.txt", "über.txt"},
      {"attachment; filename*=UTF-8''%FF%FE.txt; filename=fallback.txt", "fallback.txt"},
      {"attachment; filename*=KOI8-R''x.txt; filename=fallback.txt", "fallback.txt"},
      {"attachment; filename*=UTF-8''bad%2.txt", ""},
      {"attachment; filename=\"../../etc/passwd\"", "passwd"},
      {"attachment; filename=\"C:\\\\Windows\\\\evil.dll\"", "evil.dll"},
      {"attachment; filename*=UTF-8''a%00b%0Ac%7F%C2%85d.txt", "abcd.txt"},
      {"attachment; filename=\"..\"", ""},
      {"attachment; filename=.bashrc", "bashrc"},
      {"attachment; filename*=UTF-8''..%2F..%2F.profile", "profile"},
      {"attachment; filename=\"" + longName + "\"", std::string(242, 'x') + ".iso"},
      {"attachment; filename=\"unterminated.bin", "unterminated.bin"},
      {"attachment; filename=\xC3\x28.bin", ""},
      {"attachment", ""},
      {"inline; filename", ""},
      {";;;=;filename=;", ""},
      {"", ""},
  };
  for (const Case& c : headers) {
    EXPECT_EQ(FileNameFromContentDisposition(c.contentDisposition), c.expected)
        << c.contentDisposition;
  }

  const Case urls[] = {
      {"http://h/a.bin?x=1&y=2", "a.bin"},
      {"http://h/a.bin#part", "a.bin"},
      {"http://h/my%20file.bin", "my file.bin"},
      {"http://h/%C3%BCber.bin", "über.bin"},
      {"http://h/%FF.bin", "%FF.bin"},
      {"http://h/100%.bin", "100%.bin"},
      {"http://h/dir%2F..%2F%2E%2E", kDefaultFileName},
      {"http://h/a%00b.bin", "ab.bin"},
      {"http://h/get?path=/x/y.iso", "get"},
      {"http://h/", kDefaultFileName},
  };
  for (const Case& c : urls) EXPECT_EQ(FileNameFromUrl(c.contentDisposition), c.expected);

  EXPECT_TRUE(HasFileExtension("a.bin"));
  EXPECT_FALSE(HasFileExtension("get"));
  EXPECT_FALSE(HasFileExtension(".profile"));
  EXPECT_FALSE(HasFileExtension("name."));
}

}  // namespace
}  // namespace vn

#include "apps/service/core/server_file_name.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "apps/service/core/hidden_characters.h"
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

std::string Utf8(char32_t c) {
  if (c < 0x80) return std::string(1, static_cast<char>(c));
  if (c < 0x800) {
    return {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
  }
  return {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
          static_cast<char>(0x80 | (c & 0x3F))};
}

std::string PercentEncoded(const std::string& bytes) {
  std::string encoded;
  for (const char byte : bytes) {
    char escape[4];
    std::snprintf(escape, sizeof escape, "%%%02X", static_cast<unsigned char>(byte));
    encoded += escape;
  }
  return encoded;
}

// "evil<c>txt.exe" from every way a name comes from outside (a server's
// filename* or plain filename, a URL): a character nobody sees goes, so the
// name shows as what it is; its visible neighbours stay. A client's name
// holding one is refused instead.
TEST(ServerFileName, CharactersNobodySeesLeaveOutsideNames) {
  const char32_t hidden[] = {0x0000, 0x0009, 0x000A, 0x001F, 0x007F, 0x0080, 0x009F,
                             0x061C, 0x200B, 0x200C, 0x200D, 0x200E, 0x200F, 0x202A,
                             0x202B, 0x202C, 0x202D, 0x202E, 0x2060, 0x2066, 0x2067,
                             0x2068, 0x2069, 0xFEFF};
  const char32_t visible[] = {0x00A0, 0x00AD, 0x061B, 0x200A, 0x2010, 0x2029,
                              0x2061, 0x2065, 0x206A, 0xFEFE, 0xFF0E};
  const auto check = [](char32_t c, bool isHidden) {
    const std::string character = Utf8(c);
    const std::string name = "evil" + character + "txt.exe";
    const std::string expected = isHidden ? "eviltxt.exe" : name;
    SCOPED_TRACE(static_cast<unsigned>(c));
    EXPECT_EQ(FileNameFromContentDisposition("attachment; filename*=UTF-8''" +
                                             PercentEncoded(name)),
              expected);
    EXPECT_EQ(FileNameFromContentDisposition("attachment; filename=\"" + name + "\""), expected);
    EXPECT_EQ(FileNameFromUrl("http://h/evil" + PercentEncoded(character) + "txt.exe"), expected);
    EXPECT_EQ(HasHiddenCharacter(name), isHidden);
  };
  for (const char32_t c : hidden) check(c, true);
  for (const char32_t c : visible) check(c, false);

  // Dots that only hidden characters kept from leading the name go too.
  EXPECT_EQ(FileNameFromContentDisposition("attachment; filename*=UTF-8''%E2%80%8B.bashrc"),
            "bashrc");
  EXPECT_EQ(FileNameFromUrl("http://h/%E2%80%AE%E2%80%8B"), kDefaultFileName);
  EXPECT_FALSE(HasHiddenCharacter("über plan (1).pdf"));
  EXPECT_FALSE(HasHiddenCharacter("\xE2\x80"));  // a cut sequence is no character
}

}  // namespace
}  // namespace vn

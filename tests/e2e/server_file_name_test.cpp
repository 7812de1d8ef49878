#include <set>

#include "tests/e2e/download_fixture.h"

namespace vn::test {
namespace {

namespace fs = std::filesystem;
using ServerFileName = DownloadTest;

// The server's Content-Disposition names a download whose URL names no file,
// before a byte is written; the name is made safe and never takes a file or
// another download's name; a name from the URL or the client stays.
TEST_F(ServerFileName, NamesTheFileOnlyWhenNobodyElseDid) {
  const auto body = MakeContent(200000);
  const auto serve = [&](const std::string& path, const std::string& disposition) {
    ResourceOptions resource;
    resource.body = body;
    resource.contentDisposition = disposition;
    server.SetResource(path, resource);
    return server.Url(path);
  };
  WriteFile(OutputFile("taken.bin"), "the user's own file");
  struct Case {
    nlohmann::json request;
    std::string expected;
  };
  const Case cases[] = {
      {{{"url", serve("/get", "attachment; filename*=UTF-8''%C3%BCber%20plan.pdf") + "?id=42"}},
       "über plan.pdf"},
      {{{"url", serve("/taken", "attachment; filename=\"taken.bin\"")}}, "taken (1).bin"},
      // Probed in either order: one takes the name, the other is numbered.
      {{{"url", serve("/same1", "attachment; filename=same.bin")}}, ""},
      {{{"url", serve("/same2", "attachment; filename=same.bin")}}, ""},
      {{{"url", serve("/escape", "attachment; filename=\"../../.evil\"")}}, "evil"},
      // Shown as it stands, the name would read "evilexe.txt".
      {{{"url", serve("/bidi", "attachment; filename=\"evil\u202Etxt.exe\"")}}, "eviltxt.exe"},
      {{{"url", serve("/file.zip", "attachment; filename=other.bin")}}, "file.zip"},
      {{{"url", serve("/mine", "attachment; filename=other.bin")}, {"fileName", "mine"}}, "mine"},
      {{{"url", server.Url("/a%20b.bin?x=1#y")}}, "a b.bin"},
  };
  ResourceOptions plain;
  plain.body = body;
  server.SetResource("/a%20b.bin", plain);
  std::vector<std::string> ids;
  for (const Case& c : cases) ids.push_back(Enqueue(c.request));
  std::set<std::string> numbered;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const std::string name = WaitForStatus(ids[i], "Completed")["fileName"];
    if (cases[i].expected.empty()) {
      numbered.insert(name);
    } else {
      EXPECT_EQ(name, cases[i].expected) << cases[i].request;
    }
    EXPECT_EQ(ReadFile(OutputFile(name)), body) << name;
  }
  EXPECT_EQ(numbered, (std::set<std::string>{"same.bin", "same (1).bin"}));
  EXPECT_EQ(ReadFile(OutputFile("taken.bin")), "the user's own file");
  // Nothing was ever written under the names the URLs gave.
  for (const std::string left : {"get", "taken", "same1", "same2", "escape", "bidi"}) {
    EXPECT_FALSE(fs::exists(OutputFile(left))) << left;
    EXPECT_FALSE(fs::exists(OutputFile(left + ".segments"))) << left;
  }

  Restart();
  EXPECT_EQ(Find(ids[0])["fileName"], "über plan.pdf");
}

}  // namespace
}  // namespace vn::test

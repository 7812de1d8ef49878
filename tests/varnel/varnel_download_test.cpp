#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/varnel/varnel_fixture.h"

namespace vn::test {
namespace {

using VarnelDownloads = VarnelTest;

TEST_F(VarnelDownloads, AddWaitDownloadsIntoARelativeFolderAndExitsZero) {
  const std::string content = MakeContent((3 << 20) + 123, 3);
  http.SetResource("/data.bin", Serving(content));
  TempFolder work;

  const auto result = RunVarnel({"add", http.Url("/data.bin"), "-o", "out", "-O", "copy.bin", "-x",
                                 "4", "--sha256", Sha256Hex(content), "--wait"},
                                work.path());

  EXPECT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_EQ(result.errors, "");
  EXPECT_EQ(FirstLine(result.output).rfind("dl_", 0), 0u) << result.output;
  EXPECT_NE(result.output.find(" Completed 100.0%"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("\ncopy.bin: 3 MiB in "), std::string::npos) << result.output;
  EXPECT_NE(result.output.find(", SHA-256 verified " + Sha256Hex(content).substr(0, 16) + "\n"),
            std::string::npos)
      << result.output;
  EXPECT_FALSE(HasControlCharacters(result.output)) << result.output;
  const auto file = work.path() / "out" / "copy.bin";
  ASSERT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(Sha256Hex(ReadFile(file)), Sha256Hex(content));
}

// `add -i`: every listed URL with the command line's options, one id a line,
// one overall progress line; exit 0 only when all of them completed.
TEST_F(VarnelDownloads, AddListEnqueuesEveryUrlAndWaitsForAll) {
  const std::string a = MakeContent(70000, 5), b = MakeContent(3000, 6);
  http.SetResource("/a.bin", Serving(a));
  http.SetResource("/b.bin", Serving(b));
  http.SetResource("/gone.bin", Answering(404));
  struct Case {
    std::vector<std::string> urls;
    int exitCode;
    std::string progress;
  };
  const std::vector<Case> cases = {
      {{"/a.bin", "/b.bin"}, 0, "2/2 files done, "},
      {{"/b.bin", "/gone.bin", "/a.bin"}, 1, "2/3 files done, "},
  };
  for (const Case& c : cases) {
    TempFolder work;
    std::string list = "# batch\n\n";
    for (const auto& url : c.urls) list += "  " + http.Url(url) + "\r\n";
    std::ofstream(work.path() / "urls.txt") << list;
    const auto result = RunVarnel({"add", "-i", "urls.txt", "-o", "out", "--wait"}, work.path());
    EXPECT_EQ(result.exitCode, c.exitCode) << result.errors;
    std::istringstream lines(result.output);
    std::string line;
    for (std::size_t i = 0; i < c.urls.size(); ++i) {
      std::getline(lines, line);
      EXPECT_EQ(line.rfind("dl_", 0), 0u) << result.output;
    }
    EXPECT_NE(result.output.find(c.progress), std::string::npos) << result.output;
    EXPECT_EQ(ReadFile(work.path() / "out" / "a.bin"), a);
    EXPECT_EQ(ReadFile(work.path() / "out" / "b.bin"), b);
  }
}

// `add -i` checks every line first: each bad one is named by its number, the
// good ones are still enqueued, and the exit code says something was left out.
TEST_F(VarnelDownloads, AddListReportsEachBadLineByNumberAndEnqueuesTheGoodOnes) {
  http.SetResource("/a.bin", Serving("a"));
  http.SetResource("/b.bin", Serving("b"));
  struct Line {
    std::string text;
    std::string problem;  // empty: enqueued (or skipped, for a comment)
  };
  const std::vector<Line> lines = {
      {"\xEF\xBB\xBF" + http.Url("/a.bin"), ""},
      {"ftp://127.0.0.1/file", "only http:// and https:// URLs can be downloaded"},
      {std::string("http://127.0.0.1/a\0b", 20), "holds a zero byte"},
      {"# a comment", ""},
      {"http://127.0.0.1/\xff\xfe", "is not UTF-8 text"},
      {"http://127.0.0.1/" + std::string(9000, 'a'), "longer than 8192 bytes"},
      {"not a URL at all", "only http:// and https:// URLs can be downloaded"},
      {"http://127.0.0.1/\x1b[2J", "holds a control character"},
      {"  " + http.Url("/b.bin") + " ", ""},
  };
  TempFolder work;
  std::string list;
  for (const Line& line : lines) list += line.text + "\n";
  WriteFile(work.path() / "urls.txt", list);

  const auto result = RunVarnel({"add", "-i", "urls.txt", "-o", "out"}, work.path());

  EXPECT_EQ(result.exitCode, 1) << result.errors;
  std::size_t bad = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].problem.empty()) continue;
    ++bad;
    EXPECT_NE(
        result.errors.find("varnel: urls.txt:" + std::to_string(i + 1) + ": " + lines[i].problem),
        std::string::npos)
        << i + 1 << "\n"
        << result.errors;
  }
  EXPECT_EQ(static_cast<std::size_t>(std::count(result.errors.begin(), result.errors.end(), '\n')),
            bad)
      << result.errors;
  EXPECT_FALSE(HasControlCharacters(result.errors)) << result.errors;
  std::vector<std::string> enqueued;
  for (const auto& task : List(*service)) enqueued.push_back(task["url"]);
  std::sort(enqueued.begin(), enqueued.end());
  EXPECT_EQ(enqueued, (std::vector<std::string>{http.Url("/a.bin"), http.Url("/b.bin")}));
  EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 2) << result.output;
}

TEST_F(VarnelDownloads, AddWaitReportsA404OnStandardErrorAndExitsOne) {
  http.SetResource("/missing.bin", Answering(404));
  TempFolder work;

  const auto result = RunVarnel({"add", http.Url("/missing.bin"), "--wait"}, work.path());

  EXPECT_EQ(result.exitCode, 1);
  const std::string id = FirstLine(result.output);
  EXPECT_EQ(result.errors, "varnel: download " + id + " failed: Server returned HTTP 404\n");
  EXPECT_FALSE(HasControlCharacters(result.output + result.errors));
}

TEST_F(VarnelDownloads, AddWaitFailsWhenTheChecksumDiffers) {
  http.SetResource("/data.bin", Serving(MakeContent(100000, 4)));
  TempFolder work;

  const auto result = RunVarnel({"add", http.Url("/data.bin"), "-o", work.path().string(),
                                 "--sha256", std::string(64, '0'), "--wait"});

  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.errors.find("failed: Checksum verification failed"), std::string::npos)
      << result.errors;
}

TEST_F(VarnelDownloads, AddPrintsAnIdThatListJsonShows) {
  const std::string url = SlowUrl();
  TempFolder work;

  const auto added = RunVarnel({"add", url, "-o", "."}, work.path());
  ASSERT_EQ(added.exitCode, 0) << added.errors;
  const std::string id = FirstLine(added.output);
  EXPECT_EQ(added.output, id + "\n");

  const auto listed = RunVarnel({"list", "--json"});
  ASSERT_EQ(listed.exitCode, 0) << listed.errors;
  bool found = false;
  const auto answer = nlohmann::json::parse(listed.output);
  for (const auto& task : answer["downloads"]) {
    if (task["id"] != id) continue;
    found = true;
    EXPECT_EQ(task["url"], url);
    EXPECT_EQ(task["fileName"], "slow.bin");
    EXPECT_EQ(task["outputPath"], work.path().lexically_normal().string());
  }
  EXPECT_TRUE(found) << listed.output;
}

TEST_F(VarnelDownloads, ListJsonIsTheServicesAnswerByteForByte) {
  TempFolder work;
  for (const char* name : {"/a.bin", "/b.bin"}) {
    http.SetResource(name, Serving(MakeContent(50000, 5)));
    ASSERT_EQ(RunVarnel({"add", http.Url(name), "-o", work.path().string(), "--wait"}).exitCode, 0);
  }
  // Both downloads rest now, so the two answers cannot differ by timing.
  const std::string direct = service->Request(R"({"type":"list_downloads"})");
  const auto listed = RunVarnel({"list", "--json"});
  EXPECT_EQ(listed.exitCode, 0);
  EXPECT_EQ(listed.output, direct + "\n");
}

TEST_F(VarnelDownloads, ListTableShowsEachDownloadWithoutControlCharacters) {
  EXPECT_EQ(RunVarnel({"list"}).output, "No downloads.\n");

  TempFolder work;
  http.SetResource("/table.bin", Serving(MakeContent(1536, 6)));
  const auto added = RunVarnel({"add", http.Url("/table.bin"), "-o", work.path().string(), "-O",
                                "a name with spaces.bin", "--wait"});
  ASSERT_EQ(added.exitCode, 0) << added.errors;

  const auto listed = RunVarnel({"list"});
  EXPECT_EQ(listed.exitCode, 0);
  EXPECT_FALSE(HasControlCharacters(listed.output));
  const auto row = listed.output.find(FirstLine(added.output));
  ASSERT_NE(row, std::string::npos) << listed.output;
  const std::string line = listed.output.substr(row, listed.output.find('\n', row) - row);
  for (const char* part : {"Completed", "100.0%", "1.5 KiB", "a name with spaces.bin"}) {
    EXPECT_NE(line.find(part), std::string::npos) << part << " in " << line;
  }
}

}  // namespace
}  // namespace vn::test

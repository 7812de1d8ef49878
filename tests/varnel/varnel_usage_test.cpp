#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_environment.h"
#include "tests/varnel/client_process.h"

namespace vn::test {
namespace {

// No service runs in these tests: whatever varnel says, it says on its own.

TEST(VarnelWithoutService, EveryCommandExitsThreeAndSaysHowToStartTheService) {
  // --no-start before or after the subcommand keeps varnel from starting one.
  const std::vector<std::vector<std::string>> commands = {
      {"list", "--no-start"},
      {"--no-start", "list", "--json"},
      {"pause", "dl_1", "--no-start"},
      {"limit", "dl_1", "off", "--no-start"},
      {"add", "http://127.0.0.1:9/x.bin", "--no-start"},
      {"--no-start", "watch"}};
  for (const auto& command : commands) {
    const auto result = RunVarnel(command);
    EXPECT_EQ(result.exitCode, 3) << command[0];
    EXPECT_EQ(result.errors,
              "varnel: the download service is not running; start it with "
              "`varnel service start`\n")
        << command[0];
    EXPECT_EQ(result.output, "") << command[0];
  }
}

TEST(VarnelWithoutService, UsageErrorsExitTwoBeforeAnythingIsSent) {
  const std::vector<std::vector<std::string>> commands = {
      {},
      {"frobnicate"},
      {"add"},
      {"add", "ftp://example.test/x"},
      {"add", "magnet:?xt=urn:btih:abc"},
      {"add", "http://example.test/x", "--limit", "5Q"},
      {"add", "http://example.test/x", "--limit", "-5K"},
      {"add", "http://example.test/x", "--limit", "99999999999999T"},
      {"add", "http://example.test/x", "-x", "0"},
      {"add", "http://example.test/x", "-x", "33"},
      {"add", "http://example.test/x", "--sha256", "xyz"},
      {"add", "http://example.test/x", "-O", "a/b"},
      {"add", "http://example.test/" + std::string(9000, 'a')},
      {"torrent", "no-such-file.torrent"},
      {"list", "--bogus"},
      {"pause"},
      {"limit", "dl_1"},
      {"limit", "dl_1", "fast"},
      {"delete", "dl_1", "extra"},
      {"refresh", "dl_1"},
      {"refresh", "dl_1", "ftp://example.test/x"},
  };
  for (const auto& command : commands) {
    const std::string shown = command.empty() ? "(none)" : command.back();
    const auto result = RunVarnel(command);
    EXPECT_EQ(result.exitCode, 2) << shown << ": " << result.errors;
    EXPECT_EQ(result.errors.rfind("varnel: ", 0), 0u) << shown << ": " << result.errors;
    EXPECT_EQ(result.output, "") << shown;
  }
}

TEST(VarnelWithoutService, HelpDocumentsTheExitCodes) {
  const auto result = RunVarnel({"--help"});
  EXPECT_EQ(result.exitCode, 0);
  for (const char* line :
       {"Exit codes:", "0    success", "2    usage error",
        "3    the download service is unavailable", "4    the service refused the command",
        "refresh"}) {
    EXPECT_NE(result.output.find(line), std::string::npos) << line;
  }
  const auto addHelp = RunVarnel({"add", "--help"});
  EXPECT_EQ(addHelp.exitCode, 0);
  EXPECT_NE(addHelp.output.find("Ctrl-C stops waiting"), std::string::npos) << addHelp.output;
}

}  // namespace
}  // namespace vn::test

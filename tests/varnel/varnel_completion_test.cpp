#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/test_environment.h"
#include "tests/varnel/client_process.h"
#include "tests/varnel/varnel_fixture.h"

namespace vn::test {
namespace {

using Case = std::pair<std::vector<std::string>, std::string>;  // words, expected offers

// Sources `varnel completion bash` in a real bash, with the tested varnel
// first on PATH, and asks the completion function about each case's words
// (the last word is the one being completed). Returns the `complete -p`
// line, then one line of offers per case.
std::string CompleteInBash(const std::vector<Case>& cases) {
  const auto script = RunVarnel({"completion", "bash"});
  EXPECT_EQ(script.exitCode, 0) << script.errors;
  TempFolder folder;
  std::filesystem::create_directory(folder.path() / "bin");
  std::filesystem::create_symlink(VARNEL_CLIENT_BINARY, folder.path() / "bin" / "varnel");
  WriteFile(folder.path() / "varnel.bash", script.output);
  std::string driver =
      "PATH=\"$1/bin:$PATH\"\n"
      "source \"$1/varnel.bash\"\n"
      "complete -p varnel\n"
      "try() { COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); COMPREPLY=(); _varnel;"
      " echo \"${COMPREPLY[*]}\"; }\n";
  for (const auto& [words, offers] : cases) {
    driver += "try varnel";
    for (const auto& word : words) driver += " '" + word + "'";
    driver += "\n";
  }
  WriteFile(folder.path() / "driver.sh", driver);
  ChildOptions options;
  options.arguments = {"-c", "bash \"$1/driver.sh\" \"$1\" >\"$1/offers\" 2>&1", "bash",
                       folder.path().string()};
  options.input = StreamMode::kDevNull;
  options.output = StreamMode::kDevNull;
  options.errors = StreamMode::kDevNull;
  ChildProcess bash("/bin/bash", options);
  EXPECT_EQ(bash.WaitForExit(std::chrono::seconds(60)), 0);
  return ReadFile(folder.path() / "offers");
}

std::string ExpectedOffers(const std::vector<Case>& cases) {
  std::string expected = "complete -F _varnel varnel\n";
  for (const auto& [words, offers] : cases) expected += offers + "\n";
  return expected;
}

class VarnelCompletion : public VarnelTest {};

TEST_F(VarnelCompletion, BashOffersSubcommandsOptionsAndTheServicesIds) {
  const auto added = RunVarnel({"add", SlowUrl()});
  ASSERT_EQ(added.exitCode, 0) << added.errors;
  const std::string id = FirstLine(added.output);
  const std::vector<Case> cases = {
      {{""},
       "add torrent list pause resume cancel retry refresh delete limit watch service browser "
       "doctor completion"},
      {{"re"}, "resume retry refresh"},
      {{"--no-start", "se"}, "service"},
      {{"service", ""}, "start stop status"},
      {{"browser", "install", "--f"}, "--force --firefox-extension-id"},
      {{"completion", ""}, "bash zsh fish"},
      {{"list", "--"}, "--help --json --ids"},
      // Every command whose first argument is an id, and only there.
      {{"pause", ""}, id},
      {{"resume", "dl"}, id},
      {{"cancel", ""}, id},
      {{"retry", ""}, id},
      {{"delete", "--delete-file", ""}, id},
      {{"limit", ""}, id},
      {{"refresh", ""}, id},
      {{"refresh", id, ""}, ""},
      {{"pause", "tor_"}, ""},
      // An option's value is not taken for the subcommand or the id.
      {{"add", "-o", "pause", ""}, ""},
  };
  EXPECT_EQ(CompleteInBash(cases), ExpectedOffers(cases));
}

TEST(VarnelCompletionWithoutService, IdsAreLeftOutAndNoServiceIsStarted) {
  const std::vector<Case> cases = {{{"pause", ""}, ""}, {{"delete", ""}, ""}};
  EXPECT_EQ(CompleteInBash(cases), ExpectedOffers(cases));
  const auto list = RunVarnel({"--no-start", "list"});
  EXPECT_EQ(list.exitCode, 3) << "completion started the service";

  // The other shells' scripts are made too, and parse where their shell is
  // installed (the tests do not need it).
  const std::vector<std::pair<std::string, std::string>> shells = {
      {"zsh", "#compdef varnel\n"}, {"fish", "# fish completion for varnel"}};
  TempFolder folder;
  for (const auto& [shell, opening] : shells) {
    const auto script = RunVarnel({"completion", shell});
    EXPECT_EQ(script.exitCode, 0) << shell << script.errors;
    EXPECT_EQ(script.output.rfind(opening, 0), 0u) << shell;
    EXPECT_NE(script.output.find("list --ids"), std::string::npos) << shell;
    const std::filesystem::path program = "/usr/bin/" + shell;
    if (!std::filesystem::exists(program)) continue;
    WriteFile(folder.path() / shell, script.output);
    ChildOptions options;
    options.arguments = {"-n", (folder.path() / shell).string()};
    options.output = StreamMode::kDevNull;
    options.errors = StreamMode::kInherit;
    ChildProcess check(program, options);
    EXPECT_EQ(check.WaitForExit(std::chrono::seconds(30)), 0) << shell << " -n failed";
  }
  EXPECT_EQ(RunVarnel({"completion", "tcsh"}).exitCode, 2);
}

}  // namespace
}  // namespace vn::test

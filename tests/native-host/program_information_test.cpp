// `--help` and `--version`, each as the only argument, make both programs
// answer on standard output and exit 0 without starting; whatever else a
// browser passes leaves the host working as a host.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/native-host/host_process.h"
#include "tests/support/child_process.h"
#include "tests/support/test_environment.h"

namespace vn::test {
namespace {

struct Outcome {
  std::string output;
  std::optional<int> exitCode;
};

// Runs program with no input and collects its standard output to the end.
Outcome RunProgram(const std::filesystem::path& program,
                   const std::vector<std::string>& arguments) {
  ChildOptions options;
  options.arguments = arguments;
  options.input = StreamMode::kDevNull;
  options.errors = StreamMode::kDevNull;
  ChildProcess child(program, options);
  Outcome outcome;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  char buffer[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd output{child.Fd(StreamName::kOutput), POLLIN, 0};
    if (left.count() <= 0 || poll(&output, 1, static_cast<int>(left.count())) <= 0) break;
    const ssize_t got = read(output.fd, buffer, sizeof buffer);
    if (got <= 0) break;
    outcome.output.append(buffer, static_cast<std::size_t>(got));
  }
  outcome.exitCode = child.WaitForExit(10s);
  return outcome;
}

TEST(ProgramInformation, OnlyASoleHelpOrVersionIsAnswered) {
  const std::string version = VARNEL_PROJECT_VERSION;
  const std::filesystem::path dataRoot = TestRoot() / "localappdata" / "VarnelV2";
  const std::filesystem::path socket = TestRoot() / "run" / "VarnelV2";
  std::filesystem::remove_all(dataRoot);
  const std::string chrome = "chrome-extension://abcdefghijklmnopabcdefghijklmnop/";
  struct Row {
    std::filesystem::path program;
    std::vector<std::string> arguments;
    std::string output;              // the whole output, or how it begins
    std::vector<std::string> names;  // with these, output is how it begins
  };
  std::vector<Row> rows = {
      {HostBinary(),
       {"--help"},
       "Usage: native-host [--help | --version]\n",
       {(dataRoot / "browser-handshakes.json").string(), socket.string(), "--version"}},
      {HostBinary(), {"--version"}, "Varnel native-host " + version + "\n", {}},
      // As browsers start it: nothing to read, so it ends at once, silently.
      {HostBinary(), {chrome}, "", {}},
      {HostBinary(), {chrome, "--parent-window=0"}, "", {}},
      {HostBinary(),
       {"/home/u/.mozilla/native-messaging-hosts/com.varnel.v2.json", "v@x.org"},
       "",
       {}},
      {HostBinary(), {"--help", chrome}, "", {}},
      {HostBinary(), {"--Version"}, "", {}},
  };
#ifdef SERVICE_BINARY
  rows.push_back({SERVICE_BINARY,
                  {"--help"},
                  "Usage: service [--help | --version]\n",
                  {dataRoot.string(), (dataRoot / "data" / "downloads.db").string(),
                   socket.string(), "--version"}});
  rows.push_back({SERVICE_BINARY, {"--version"}, "Varnel service " + version + "\n", {}});
#endif
  for (const Row& row : rows) {
    SCOPED_TRACE(row.program.filename().string() + " " + ::testing::PrintToString(row.arguments));
    const Outcome outcome = RunProgram(row.program, row.arguments);
    EXPECT_EQ(outcome.exitCode, 0);
    if (row.names.empty()) {
      EXPECT_EQ(outcome.output, row.output);
      continue;
    }
    EXPECT_EQ(outcome.output.rfind(row.output, 0), 0u) << outcome.output;
    for (const std::string& name : row.names) {
      EXPECT_NE(outcome.output.find(name), std::string::npos) << name << "\n" << outcome.output;
    }
  }
  // Asking started nothing and made no file.
  EXPECT_FALSE(std::filesystem::exists(socket));
  EXPECT_FALSE(std::filesystem::exists(dataRoot));
}

}  // namespace
}  // namespace vn::test

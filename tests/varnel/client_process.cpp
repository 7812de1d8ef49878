#include "tests/varnel/client_process.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace vn::test {
namespace {

using Clock = std::chrono::steady_clock;

ChildOptions ClientOptions(const std::vector<std::string>& arguments,
                           const std::filesystem::path& folder) {
  ChildOptions options;
  options.arguments = arguments;
  options.folder = folder;
  options.input = StreamMode::kDevNull;
  // Ctrl-C must reach the child even if the test runner ignores it.
  options.defaultSignals = true;
  return options;
}

}  // namespace

ClientProcess::ClientProcess(const std::vector<std::string>& arguments,
                             const std::filesystem::path& folder)
    : process(VARNEL_CLIENT_BINARY, ClientOptions(arguments, folder)) {}

bool ClientProcess::Pump(std::chrono::milliseconds timeout) {
  const StreamName streams[2] = {StreamName::kOutput, StreamName::kErrors};
  pollfd fds[2] = {{process.Fd(streams[0]), POLLIN, 0}, {process.Fd(streams[1]), POLLIN, 0}};
  if (fds[0].fd < 0 && fds[1].fd < 0) return false;
  const int ready = poll(fds, 2, static_cast<int>(timeout.count()));
  if (ready <= 0) return true;
  std::string* into[2] = {&result.output, &result.errors};
  char buffer[65536];
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0 || fds[i].revents == 0) continue;
    const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
    if (got > 0) {
      into[i]->append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      process.Close(streams[i]);
    }
  }
  return process.Fd(streams[0]) >= 0 || process.Fd(streams[1]) >= 0;
}

bool ClientProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (result.output.find(text) == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    if (!Pump(std::min(left, std::chrono::milliseconds(100)))) {
      return result.output.find(text) != std::string::npos;
    }
  }
  return true;
}

void ClientProcess::Interrupt() { process.Signal(SIGINT); }

void ClientProcess::Terminate() { process.Signal(SIGTERM); }

ClientResult ClientProcess::Finish(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline && Pump(std::chrono::milliseconds(100))) {
  }
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  const auto code = process.WaitForExit(std::max(left, std::chrono::milliseconds(0)));
  if (!code) process.Kill();
  result.exitCode = code.value_or(-1);
  return result;
}

ClientResult RunVarnel(const std::vector<std::string>& arguments,
                       const std::filesystem::path& folder, std::chrono::milliseconds timeout) {
  ClientProcess process(arguments, folder);
  return process.Finish(timeout);
}

bool HasControlCharacters(const std::string& text) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\n') || byte == 0x7f) return true;
  }
  return false;
}

}  // namespace vn::test

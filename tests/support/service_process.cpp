#include "tests/support/service_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

#include "platform/pipe.h"

extern char** environ;

namespace vn::test {
namespace {

constexpr const char* kStartLine = "Download service started.";

}  // namespace

ServiceProcess::ServiceProcess(std::filesystem::path binary, Environment overrides)
    : binary(std::move(binary)), overrides(std::move(overrides)) {}

ServiceProcess::~ServiceProcess() {
  if (!ended) Kill();
  if (outputReader.joinable()) outputReader.join();
  if (errorReader.joinable()) errorReader.join();
}

void ServiceProcess::CollectOutput(int fd, std::string& into) {
  char buffer[4096];
  while (true) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    std::lock_guard<std::mutex> lock(outputMutex);
    into.append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
}

bool ServiceProcess::Start(std::chrono::milliseconds timeout) {
  std::map<std::string, std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const auto equals = text.find('=');
    if (equals != std::string::npos) environment[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const auto& [name, value] : overrides) {
    if (value) {
      environment[name] = *value;
    } else {
      environment.erase(name);
    }
  }
  std::vector<std::string> entries;
  for (const auto& [name, value] : environment) entries.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);

  int outPipe[2];
  int errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, outPipe[0]);
  posix_spawn_file_actions_addclose(&actions, errPipe[0]);
  std::string program = binary.string();
  char* argv[] = {program.data(), nullptr};
  const int result = posix_spawn(&child, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  if (result != 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    throw std::runtime_error("cannot start " + program);
  }
  ended = false;
  outputReader = std::thread([this, fd = outPipe[0]] { CollectOutput(fd, output); });
  errorReader = std::thread([this, fd = errPipe[0]] { CollectOutput(fd, errors); });

  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (Output().find(kStartLine) != std::string::npos) return true;
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) {
      Reap(status);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::string ServiceProcess::Request(const std::string& request) const {
  auto answer = platform::SendPipeRequest("VarnelV2", request, 1 << 30, std::chrono::seconds(20));
  if (!answer) throw std::runtime_error("service socket cannot be opened");
  return *answer;
}

void ServiceProcess::Reap(int status) {
  ended = true;
  exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int ServiceProcess::WaitForExit(std::chrono::milliseconds timeout) {
  if (ended) return exitCode;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) {
      Reap(status);
      if (outputReader.joinable()) outputReader.join();
      if (errorReader.joinable()) errorReader.join();
      return exitCode;
    }
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int ServiceProcess::Stop(std::chrono::milliseconds timeout) {
  if (ended) return exitCode;
  kill(child, SIGTERM);
  const int code = WaitForExit(timeout);
  if (code == -1) {
    Kill();
    return -1;
  }
  return code;
}

void ServiceProcess::Kill() {
  if (ended) return;
  kill(child, SIGKILL);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  Reap(status);
  if (outputReader.joinable()) outputReader.join();
  if (errorReader.joinable()) errorReader.join();
}

std::string ServiceProcess::Output() const {
  std::lock_guard<std::mutex> lock(outputMutex);
  return output;
}

std::string ServiceProcess::Errors() const {
  std::lock_guard<std::mutex> lock(outputMutex);
  return errors;
}

}  // namespace vn::test

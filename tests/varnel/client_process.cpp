#include "tests/varnel/client_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

extern char** environ;

namespace vn::test {
namespace {

using Clock = std::chrono::steady_clock;

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

ClientProcess::ClientProcess(const std::vector<std::string>& arguments,
                             const std::filesystem::path& folder) {
  int outputPipe[2];
  int errorPipe[2];
  if (pipe2(outputPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (pipe2(errorPipe, O_CLOEXEC) != 0) {
    close(outputPipe[0]);
    close(outputPipe[1]);
    throw std::runtime_error("pipe failed");
  }

  std::vector<std::string> owned = {VARNEL_CLIENT_BINARY};
  owned.insert(owned.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& argument : owned) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outputPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errorPipe[1], STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  // Ctrl-C must reach the child even if the test runner ignores it.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  const int spawned = posix_spawn(&child, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(outputPipe[1]);
  close(errorPipe[1]);
  outputFd = outputPipe[0];
  errorFd = errorPipe[0];
  if (spawned != 0) {
    child = -1;
    CloseFd(outputFd);
    CloseFd(errorFd);
    throw std::runtime_error("cannot start " + std::string(VARNEL_CLIENT_BINARY));
  }
}

ClientProcess::~ClientProcess() {
  if (child > 0) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
  }
  CloseFd(outputFd);
  CloseFd(errorFd);
}

bool ClientProcess::Pump(std::chrono::milliseconds timeout) {
  pollfd fds[2] = {{outputFd, POLLIN, 0}, {errorFd, POLLIN, 0}};
  if (outputFd < 0 && errorFd < 0) return false;
  const int ready = poll(fds, 2, static_cast<int>(timeout.count()));
  if (ready <= 0) return true;
  std::string* into[2] = {&result.output, &result.errors};
  int* fdOf[2] = {&outputFd, &errorFd};
  char buffer[65536];
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0 || fds[i].revents == 0) continue;
    const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
    if (got > 0) {
      into[i]->append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      CloseFd(*fdOf[i]);
    }
  }
  return outputFd >= 0 || errorFd >= 0;
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

void ClientProcess::Interrupt() {
  if (child > 0) kill(child, SIGINT);
}

void ClientProcess::Terminate() {
  if (child > 0) kill(child, SIGTERM);
}

ClientResult ClientProcess::Finish(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline && Pump(std::chrono::milliseconds(100))) {
  }
  while (child > 0) {
    int status = 0;
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) {
      result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      child = -1;
    } else if (Clock::now() >= deadline) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
      child = -1;
      result.exitCode = -1;
    } else {
      usleep(10000);
    }
  }
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

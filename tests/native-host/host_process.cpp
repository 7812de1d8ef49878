#include "tests/native-host/host_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace vn::test {
namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

std::filesystem::path HostBinary() { return NATIVE_HOST_BINARY; }

std::filesystem::path CopyHostInto(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  const auto copy = folder / "native-host";
  std::filesystem::copy_file(HostBinary(), copy, std::filesystem::copy_options::overwrite_existing);
  return copy;
}

std::string LengthPrefix(std::uint32_t size) {
  std::string prefix(sizeof size, '\0');
  std::memcpy(prefix.data(), &size, sizeof size);
  return prefix;
}

HostProcess::HostProcess(const std::filesystem::path& program,
                         const std::filesystem::path& workingFolder,
                         const std::vector<std::string>& arguments) {
  int toHost[2];
  int fromHost[2];
  if (pipe2(toHost, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (pipe2(fromHost, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toHost[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fromHost[1], STDOUT_FILENO);
  posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
  const std::string programText = program.string();
  std::vector<std::string> owned{programText};
  owned.insert(owned.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& argument : owned) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const int result =
      posix_spawn(&pid, programText.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(toHost[0]);
  close(fromHost[1]);
  input = toHost[1];
  output = fromHost[0];
  if (result != 0) {
    close(input);
    close(output);
    throw std::runtime_error("cannot start " + programText + ": " + std::strerror(result));
  }
  fcntl(input, F_SETFL, O_NONBLOCK);
  fcntl(output, F_SETFL, O_NONBLOCK);
}

HostProcess::~HostProcess() {
  CloseInput();
  if (output >= 0) close(output);
  if (!reaped) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

bool HostProcess::WriteRaw(const std::string& bytes, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  std::size_t done = 0;
  while (done < bytes.size()) {
    pollfd entry{input, POLLOUT, 0};
    if (poll(&entry, 1, RemainingMs(deadline)) <= 0) return false;
    const ssize_t wrote = write(input, bytes.data() + done, bytes.size() - done);
    if (wrote < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

void HostProcess::CloseInput() {
  if (input >= 0) close(input);
  input = -1;
}

std::optional<std::string> HostProcess::ReadRaw(std::size_t count,
                                                std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  std::string bytes(count, '\0');
  std::size_t done = 0;
  while (done < count) {
    pollfd entry{output, POLLIN, 0};
    if (poll(&entry, 1, RemainingMs(deadline)) <= 0) return std::nullopt;
    const ssize_t got = read(output, bytes.data() + done, count - done);
    if (got == 0) return std::nullopt;
    if (got < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return std::nullopt;
    }
    done += static_cast<std::size_t>(got);
  }
  return bytes;
}

std::optional<std::string> HostProcess::Receive(std::chrono::milliseconds timeout) {
  const auto prefix = ReadRaw(4, timeout);
  if (!prefix) return std::nullopt;
  std::uint32_t size = 0;
  std::memcpy(&size, prefix->data(), sizeof size);
  return ReadRaw(size, timeout);
}

bool HostProcess::OutputEndsEmpty(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (true) {
    pollfd entry{output, POLLIN, 0};
    if (poll(&entry, 1, RemainingMs(deadline)) <= 0) return false;
    char byte;
    const ssize_t got = read(output, &byte, 1);
    if (got == 0) return true;
    if (got > 0) return false;
    if (errno != EAGAIN && errno != EINTR) return false;
  }
}

std::optional<int> HostProcess::WaitForExit(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!reaped) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      reaped = true;
      if (WIFEXITED(status)) exitCode = WEXITSTATUS(status);
      break;
    }
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(5ms);
  }
  return exitCode;
}

}  // namespace vn::test

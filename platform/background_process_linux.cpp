// Linux backend of background_process.h: fork and exec, /proc for what runs.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string_view>
#include <thread>

#include "platform/background_process.h"
#include "platform/unique_fd.h"

namespace vn::platform {
namespace {

constexpr std::chrono::milliseconds kExitPollInterval{20};

std::vector<char*> ArgumentVector(std::vector<std::string>& owned) {
  std::vector<char*> argv;
  for (auto& argument : owned) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return argv;
}

std::vector<std::string> CommandLine(const std::filesystem::path& program,
                                     const std::vector<std::string>& arguments) {
  std::vector<std::string> owned{program.string()};
  owned.insert(owned.end(), arguments.begin(), arguments.end());
  return owned;
}

// Between fork and exec only async-signal-safe calls: the child of a
// multi-threaded parent may not allocate.
// A failed exec writes one byte to failureReport when it is open.
[[noreturn]] void ExecInChild(char* const* argv, int input, int output, int failureReport = -1) {
  signal(SIGPIPE, SIG_DFL);
  dup2(input, STDIN_FILENO);
  dup2(output, STDOUT_FILENO);
  dup2(output, STDERR_FILENO);
  execv(argv[0], argv);
  if (failureReport >= 0) (void)!write(failureReport, "x", 1);
  _exit(127);
}

void Reap(pid_t child) {
  while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

std::optional<int> StartInBackground(const std::filesystem::path& program,
                                     const std::vector<std::string>& arguments,
                                     const std::filesystem::path& logFile) {
  UniqueFd log(open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
  if (!log.Valid()) return std::nullopt;
  UniqueFd input(open("/dev/null", O_RDONLY | O_CLOEXEC));
  // The grandchild's pid, or -1 when its exec failed, comes back over a pipe.
  int report[2];
  if (!input.Valid() || pipe2(report, O_CLOEXEC) != 0) return std::nullopt;
  UniqueFd reportRead(report[0]);
  UniqueFd reportWrite(report[1]);
  auto owned = CommandLine(program, arguments);
  const auto argv = ArgumentVector(owned);

  const pid_t child = fork();
  if (child == 0) {
    // Double fork: the service is adopted by init and never becomes our zombie.
    reportRead.Reset();
    setsid();
    // Close-on-exec: end of stream with nothing read means exec succeeded.
    int exec[2];
    if (pipe2(exec, O_CLOEXEC) != 0) _exit(1);
    const pid_t grandchild = fork();
    if (grandchild == 0) {
      close(exec[0]);
      ExecInChild(argv.data(), input.Get(), log.Get(), exec[1]);
    }
    close(exec[1]);
    char failed = 0;
    ssize_t got;
    do {
      got = read(exec[0], &failed, 1);
    } while (got < 0 && errno == EINTR);
    const int started = grandchild > 0 && got == 0 ? grandchild : -1;
    (void)!write(reportWrite.Get(), &started, sizeof started);
    _exit(0);
  }
  log.Reset();
  input.Reset();
  // Our write end closed, a child that died unheard reads as end of stream.
  reportWrite.Reset();
  if (child < 0) return std::nullopt;
  int started = -1;
  ssize_t got;
  do {
    got = read(reportRead.Get(), &started, sizeof started);
  } while (got < 0 && errno == EINTR);
  reportRead.Reset();
  Reap(child);
  if (got != sizeof started || started <= 0) return std::nullopt;
  return started;
}

bool ProcessRunning(int pid) {
  if (pid <= 0 || (kill(pid, 0) != 0 && errno != EPERM)) return false;
  // "pid (name) S ...": the state follows the last ')'.
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const auto close = line.rfind(')');
  return close == std::string::npos || close + 2 >= line.size() || line[close + 2] != 'Z';
}

bool AskProcessToStop(int pid) { return pid > 0 && kill(pid, SIGTERM) == 0; }

std::optional<int> RunProgram(const std::filesystem::path& program,
                              const std::vector<std::string>& arguments,
                              std::chrono::milliseconds timeout) {
  UniqueFd quiet(open("/dev/null", O_RDWR | O_CLOEXEC));
  if (!quiet.Valid()) return std::nullopt;
  auto owned = CommandLine(program, arguments);
  const auto argv = ArgumentVector(owned);
  const pid_t child = fork();
  if (child == 0) ExecInChild(argv.data(), quiet.Get(), quiet.Get());
  quiet.Reset();
  if (child < 0) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (true) {
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) break;
    if (done < 0 && errno != EINTR) return std::nullopt;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(child, SIGKILL);
      Reap(child);
      return std::nullopt;
    }
    std::this_thread::sleep_for(kExitPollInterval);
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 127) return std::nullopt;
  return WEXITSTATUS(status);
}

std::filesystem::path FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr || name.empty() || name.find('/') != std::string::npos) return {};
  std::string folders = path;
  std::size_t start = 0;
  while (start <= folders.size()) {
    const auto end = std::min(folders.find(':', start), folders.size());
    const std::filesystem::path candidate =
        std::filesystem::path(folders.substr(start, end - start)) / name;
    if (end > start && access(candidate.c_str(), X_OK) == 0 &&
        std::filesystem::is_regular_file(candidate)) {
      return candidate;
    }
    start = end + 1;
  }
  return {};
}

std::vector<int> ProcessesRunning(const std::filesystem::path& program) {
  std::vector<int> pids;
  std::error_code error;
  const int self = getpid();
  for (const auto& process : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = process.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const int pid = std::stoi(name);
    std::error_code unreadable;
    if (pid != self && OwnedByCurrentUser(process.path()) &&
        std::filesystem::read_symlink(process.path() / "exe", unreadable) == program &&
        ProcessRunning(pid)) {
      pids.push_back(pid);
    }
  }
  return pids;
}

std::filesystem::path ProgramOfProcess(int pid) {
  std::error_code error;
  std::string program =
      std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error).string();
  if (error) return {};
  // The kernel marks a program file that was replaced or removed since (an
  // upgrade) after its path.
  constexpr std::string_view kDeleted = " (deleted)";
  if (program.size() > kDeleted.size() && program.ends_with(kDeleted)) {
    program.resize(program.size() - kDeleted.size());
  }
  return program;
}

std::optional<std::string> EnvironmentOf(int pid, const std::string& variable) {
  // NUL-separated "NAME=value" entries.
  std::ifstream environment("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
  const std::string prefix = variable + "=";
  std::string entry;
  while (std::getline(environment, entry, '\0')) {
    if (entry.rfind(prefix, 0) == 0) return entry.substr(prefix.size());
  }
  return std::nullopt;
}

bool OwnedByCurrentUser(const std::filesystem::path& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 && info.st_uid == geteuid();
}

std::optional<bool> ProcessOwnedByCurrentUser(int pid) {
  struct stat info {};
  if (lstat(("/proc/" + std::to_string(pid)).c_str(), &info) != 0) return std::nullopt;
  return info.st_uid == geteuid();
}

}  // namespace vn::platform

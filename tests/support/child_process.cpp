#include "tests/support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "tests/support/wait_until.h"

extern char** environ;

namespace vn::test {
namespace {

// The test's environment with the overrides applied, as NAME=value entries.
std::vector<std::string> ChildEnvironment(const ChildOptions::Environment& overrides) {
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
  return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Owns the spawn attributes for the length of one start.
struct SpawnSetup {
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    for (int fd : childEnds) close(fd);
  }
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  std::vector<int> childEnds;  // closed in the parent once the child has them
};

}  // namespace

ChildProcess::ChildProcess(const std::filesystem::path& program, const ChildOptions& options) {
  SpawnSetup setup;
  const StreamMode modes[3] = {options.input, options.output, options.errors};
  for (int stream = 0; stream < 3; ++stream) {
    if (modes[stream] == StreamMode::kDevNull) {
      posix_spawn_file_actions_addopen(&setup.actions, stream, "/dev/null",
                                       stream == 0 ? O_RDONLY : O_WRONLY, 0);
    } else if (modes[stream] == StreamMode::kPipe) {
      int ends[2];
      if (pipe2(ends, O_CLOEXEC) != 0) {
        for (int open = 0; open < stream; ++open) Close(static_cast<StreamName>(open));
        throw std::runtime_error("pipe failed");
      }
      const bool childReads = stream == 0;
      fds[stream] = ends[childReads ? 1 : 0];
      setup.childEnds.push_back(ends[childReads ? 0 : 1]);
      posix_spawn_file_actions_adddup2(&setup.actions, setup.childEnds.back(), stream);
    }
  }
  if (!options.folder.empty()) {
    posix_spawn_file_actions_addchdir_np(&setup.actions, options.folder.c_str());
  }
  if (options.defaultSignals) {
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGDEF);
  }

  std::vector<std::string> arguments{program.string()};
  arguments.insert(arguments.end(), options.arguments.begin(), options.arguments.end());
  std::vector<std::string> environment = ChildEnvironment(options.overrides);
  auto argv = Pointers(arguments);
  auto envp = Pointers(environment);
  const int result = posix_spawn(&child, argv[0], &setup.actions, &setup.attributes, argv.data(),
                                 envp.data());
  if (result != 0) {
    child = -1;
    ended = true;
    for (int stream = 0; stream < 3; ++stream) Close(static_cast<StreamName>(stream));
    throw std::runtime_error("cannot start " + arguments[0] + ": " + std::strerror(result));
  }
}

ChildProcess::~ChildProcess() {
  Kill();
  for (int stream = 0; stream < 3; ++stream) Close(static_cast<StreamName>(stream));
}

int ChildProcess::Fd(StreamName stream) const { return fds[static_cast<int>(stream)]; }

void ChildProcess::Close(StreamName stream) {
  int& fd = fds[static_cast<int>(stream)];
  if (fd >= 0) close(fd);
  fd = -1;
}

void ChildProcess::Signal(int signal) {
  if (!ended) kill(child, signal);
}

bool ChildProcess::Reap(int options) {
  int status = 0;
  pid_t done;
  while ((done = waitpid(child, &status, options)) < 0 && errno == EINTR) {
  }
  if (done != child) return false;
  ended = true;
  signalled = WIFSIGNALED(status);
  exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
  if (!ended && !WaitUntil([&] { return Reap(WNOHANG); }, timeout, std::chrono::milliseconds(5))) {
    return std::nullopt;
  }
  return exitCode;
}

void ChildProcess::Kill() {
  if (ended) return;
  kill(child, SIGKILL);
  Reap(0);
}

}  // namespace vn::test

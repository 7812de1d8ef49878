#pragma once

// A program under test as a child process: started with the test's private
// environment (see test_main) plus overrides, its standard streams inherited,
// pipes held by the test or /dev/null. The wrappers of the service, the native
// host and varnel build their own reading on top. One thread uses an object.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vn::test {

enum class StreamMode { kInherit, kPipe, kDevNull };
enum class StreamName { kInput, kOutput, kErrors };

struct ChildOptions {
  // Values of nullopt remove the variable from the child's environment.
  using Environment = std::map<std::string, std::optional<std::string>>;

  std::vector<std::string> arguments;  // after the program itself
  std::filesystem::path folder;        // working folder; empty: the test's
  Environment overrides;
  StreamMode input = StreamMode::kInherit;
  StreamMode output = StreamMode::kPipe;
  StreamMode errors = StreamMode::kPipe;
  // SIGINT, SIGTERM and SIGPIPE at their defaults in the child, so that a
  // signal a terminal sends reaches it although the test runner ignores some.
  bool defaultSignals = false;
};

class ChildProcess {
 public:
  // Starts program; throws std::runtime_error when it cannot be started.
  ChildProcess(const std::filesystem::path& program, const ChildOptions& options);
  // Kills and reaps a child still running, then closes the pipes.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The test's end of a piped stream, -1 when not piped or closed. Pipes are
  // close-on-exec, so no other child holds them open.
  int Fd(StreamName stream) const;
  void Close(StreamName stream);

  pid_t pid() const { return child; }
  bool Ended() const { return ended; }

  // Sends signal while the child runs.
  void Signal(int signal);
  // The exit code once the child has ended (128 + N after signal N), nullopt
  // when it still runs after timeout.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout);
  // SIGKILL, as a crash would end it, and reaps it.
  void Kill();
  // True when it ended by a signal rather than by exiting.
  bool Signalled() const { return signalled; }

 private:
  bool Reap(int options);

  pid_t child = -1;
  bool ended = false;
  bool signalled = false;
  int exitCode = -1;
  int fds[3] = {-1, -1, -1};  // input, output, errors: the test's ends
};

}  // namespace vn::test

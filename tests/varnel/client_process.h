#pragma once

// The real varnel binary as a child process, for end-to-end tests. It inherits
// the test's private environment (see test_main), so it finds the service the
// test started; its standard output and error are pipes (never a terminal).
// Every wait is bounded; the destructor kills and reaps a child still running.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace vn::test {

struct ClientResult {
  int exitCode = -1;  // -1: did not end in time (then killed)
  std::string output;
  std::string errors;
};

class ClientProcess {
 public:
  // Starts VARNEL_CLIENT_BINARY with the arguments, in folder when not empty.
  explicit ClientProcess(const std::vector<std::string>& arguments,
                         const std::filesystem::path& folder = {});
  ClientProcess(const ClientProcess&) = delete;
  ClientProcess& operator=(const ClientProcess&) = delete;

  // Reads output until it contains text; false when the child ended or the
  // timeout passed first.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout);

  // SIGINT, as Ctrl-C in a terminal sends.
  void Interrupt();
  // SIGTERM, as a service manager or `kill` sends.
  void Terminate();

  // Reads both streams to their end and reaps the child.
  ClientResult Finish(std::chrono::milliseconds timeout);

  const std::string& Output() const { return result.output; }

 private:
  // Reads what is available within timeout; false when both streams ended.
  bool Pump(std::chrono::milliseconds timeout);

  ChildProcess process;
  ClientResult result;
};

// Runs varnel to its end (at most timeout).
ClientResult RunVarnel(const std::vector<std::string>& arguments,
                       const std::filesystem::path& folder = {},
                       std::chrono::milliseconds timeout = std::chrono::seconds(60));

// True when text holds a byte below 0x20 other than '\n', or DEL: what a
// terminal would act on.
bool HasControlCharacters(const std::string& text);

}  // namespace vn::test

#pragma once

// Runs a native-host binary as the browser does: its standard input and output
// are pipes held by the test. Every read, write and wait is bounded.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace vn::test {

using namespace std::chrono_literals;

// The native-host binary under test.
std::filesystem::path HostBinary();

// A copy of the host binary in folder, so that what lies beside it and above it
// is the test's to arrange. Returns the copy's path.
std::filesystem::path CopyHostInto(const std::filesystem::path& folder);

// The 4 length bytes of a native message of size bytes, in native order.
std::string LengthPrefix(std::uint32_t size);

class HostProcess {
 public:
  // Starts program in workingFolder with the test's environment and arguments
  // (a browser passes the caller's origin).
  HostProcess(const std::filesystem::path& program, const std::filesystem::path& workingFolder,
              const std::vector<std::string>& arguments = {});
  // The destructor kills the host if it is still running and reaps it.
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  // Writes raw bytes to the host's input; false when they could not all be
  // written in time (the host stopped reading or died).
  bool WriteRaw(const std::string& bytes, std::chrono::milliseconds timeout = 10s);
  // Writes one framed message.
  bool Send(const std::string& body) { return WriteRaw(LengthPrefix(body.size()) + body); }
  void CloseInput() { process.Close(StreamName::kInput); }

  // Reads exactly count bytes of output; nullopt when the output ends or the time
  // runs out first.
  std::optional<std::string> ReadRaw(std::size_t count, std::chrono::milliseconds timeout = 10s);
  // Reads one framed reply body.
  std::optional<std::string> Receive(std::chrono::milliseconds timeout = 10s);
  // Sends one message and returns its reply.
  std::optional<std::string> Ask(const std::string& body) {
    if (!Send(body)) return std::nullopt;
    return Receive();
  }
  // True when the output ends within timeout with no further byte.
  bool OutputEndsEmpty(std::chrono::milliseconds timeout = 10s);

  // The exit code once the host has ended, nullopt when it is still running
  // after timeout (or ended by a signal).
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout = 10s);

 private:
  ChildProcess process;
};

}  // namespace vn::test

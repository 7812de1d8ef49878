#pragma once

#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "tests/support/child_process.h"

namespace vn::test {

// The real `service` binary as a child process, for end-to-end tests. It
// inherits the test's private environment (see test_main) with the given
// overrides; stdout and stderr are collected in the background. The destructor
// kills and reaps a child that is still running. Every wait is bounded.
class ServiceProcess {
 public:
  using Environment = ChildOptions::Environment;

  explicit ServiceProcess(std::filesystem::path binary, Environment overrides = {});
  ~ServiceProcess();
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  // Starts the child and waits for "Download service started."; false when it
  // exited or did not print the line in time.
  bool Start(std::chrono::milliseconds timeout = std::chrono::seconds(30));

  // Sends one request over the service's socket and returns the answer; throws
  // std::runtime_error when the socket cannot be opened.
  std::string Request(const std::string& request) const;

  // SIGTERM, then the exit code (or -1 when it did not end in time; it is then killed).
  int Stop(std::chrono::milliseconds timeout = std::chrono::seconds(15));

  // SIGKILL, as a crash would end it.
  void Kill();

  // The exit code once the child has ended by itself, or -1 after the timeout.
  int WaitForExit(std::chrono::milliseconds timeout);

  std::string Output() const;
  std::string Errors() const;
  pid_t pid() const { return process ? process->pid() : -1; }

 private:
  void CollectOutput(int fd, std::string& into);
  void JoinReaders();

  std::filesystem::path binary;
  Environment overrides;
  std::optional<ChildProcess> process;
  mutable std::mutex outputMutex;
  std::string output;  // guarded by outputMutex
  std::string errors;  // guarded by outputMutex
  std::thread outputReader;
  std::thread errorReader;
};

}  // namespace vn::test

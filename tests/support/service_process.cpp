#include "tests/support/service_process.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "platform/pipe.h"
#include "tests/support/wait_until.h"

namespace vn::test {
namespace {

constexpr const char* kStartLine = "Download service started.";

}  // namespace

ServiceProcess::ServiceProcess(std::filesystem::path binary, Environment overrides)
    : binary(std::move(binary)), overrides(std::move(overrides)) {}

ServiceProcess::~ServiceProcess() { Kill(); }

void ServiceProcess::CollectOutput(int fd, std::string& into) {
  char buffer[4096];
  while (true) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    std::lock_guard<std::mutex> lock(outputMutex);
    into.append(buffer, static_cast<std::size_t>(got));
  }
}

// The readers end when the child has ended (the pipes are close-on-exec, so
// no other child holds them).
void ServiceProcess::JoinReaders() {
  if (outputReader.joinable()) outputReader.join();
  if (errorReader.joinable()) errorReader.join();
}

bool ServiceProcess::Start(std::chrono::milliseconds timeout) {
  Kill();
  ChildOptions options;
  options.overrides = overrides;
  process.emplace(binary, options);
  outputReader = std::thread(
      [this, fd = process->Fd(StreamName::kOutput)] { CollectOutput(fd, output); });
  errorReader = std::thread(
      [this, fd = process->Fd(StreamName::kErrors)] { CollectOutput(fd, errors); });
  bool exited = false;
  const bool started = WaitUntil(
      [&] {
        if (Output().find(kStartLine) != std::string::npos) return true;
        exited = process->WaitForExit(std::chrono::milliseconds(0)).has_value();
        return exited;
      },
      timeout);
  if (exited) JoinReaders();
  return started && !exited;
}

std::string ServiceProcess::Request(const std::string& request) const {
  auto answer = platform::SendPipeRequest("VarnelV2", request, 1 << 30, std::chrono::seconds(20));
  if (!answer) throw std::runtime_error("service socket cannot be opened");
  return *answer;
}

int ServiceProcess::WaitForExit(std::chrono::milliseconds timeout) {
  if (!process) return -1;
  const auto code = process->WaitForExit(timeout);
  if (!code) return -1;
  JoinReaders();
  return *code;
}

int ServiceProcess::Stop(std::chrono::milliseconds timeout) {
  if (!process) return -1;
  process->Signal(SIGTERM);
  const int code = WaitForExit(timeout);
  if (code == -1) Kill();
  return code;
}

void ServiceProcess::Kill() {
  if (process) process->Kill();
  JoinReaders();
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

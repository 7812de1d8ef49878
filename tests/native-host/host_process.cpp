#include "tests/native-host/host_process.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

namespace {

ChildOptions HostOptions(const std::filesystem::path& workingFolder,
                         const std::vector<std::string>& arguments) {
  ChildOptions options;
  options.arguments = arguments;
  options.folder = workingFolder;
  options.input = StreamMode::kPipe;
  options.errors = StreamMode::kInherit;
  return options;
}

}  // namespace

HostProcess::HostProcess(const std::filesystem::path& program,
                         const std::filesystem::path& workingFolder,
                         const std::vector<std::string>& arguments)
    : process(program, HostOptions(workingFolder, arguments)) {
  fcntl(process.Fd(StreamName::kInput), F_SETFL, O_NONBLOCK);
  fcntl(process.Fd(StreamName::kOutput), F_SETFL, O_NONBLOCK);
}

bool HostProcess::WriteRaw(const std::string& bytes, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  const int input = process.Fd(StreamName::kInput);
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

std::optional<std::string> HostProcess::ReadRaw(std::size_t count,
                                                std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  const int output = process.Fd(StreamName::kOutput);
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
  const int output = process.Fd(StreamName::kOutput);
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
  const auto code = process.WaitForExit(timeout);
  if (!code || process.Signalled()) return std::nullopt;
  return code;
}

}  // namespace vn::test

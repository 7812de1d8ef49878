// Unix-socket backend of the local request channel.
//
// Wire format: SOCK_SEQPACKET keeps record boundaries, as a message-mode pipe
// does. A client sends its request as one record. The server reads exactly one
// record into a buffer of kMaxRequestBytes + 1 bytes; an empty record, or one
// that fills the buffer (8192 bytes or more), is refused: the connection is
// closed unanswered. The response goes back as records of at most
// kMaxResponseRecordBytes, and end of stream marks its end. Records after the
// request are discarded with the connection.
//
// Only the user who runs the server may use it: the runtime folder must be
// private to that user, the socket file is 0600, and both ends check the peer's
// uid. A lock file beside the socket decides which of two starting servers gets
// the name, so a stale socket file can be replaced without a race.

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/unique_fd.h"

namespace vn::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kListenBacklog = 64;
// After a failed accept (out of descriptors, say) the server pauses instead of
// spinning on a listening socket that stays readable.
constexpr std::chrono::milliseconds kAcceptRetryPause{250};
// A full listen backlog means the server is busy, not gone: the client retries.
constexpr std::chrono::milliseconds kConnectRetryPause{10};
// Bounds the clean-up read of records a client sent after its request.
constexpr int kMaxDiscardedRecords = 64;

[[noreturn]] void ThrowSystemError(int error, const std::string& what) {
  throw std::system_error(error, std::generic_category(), what);
}

std::string AlreadyRunning(const std::filesystem::path& socketPath) {
  return "A service is already running on " + socketPath.string();
}

void CheckRuntimeFolder(const std::filesystem::path& folder) {
  // lstat, not stat: a symbolic link planted in /tmp must not redirect us.
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0) {
    throw std::runtime_error("Runtime folder is not accessible: " + folder.string());
  }
  if (!S_ISDIR(info.st_mode)) {
    throw std::runtime_error("Runtime folder is not a directory: " + folder.string());
  }
  if (info.st_uid != geteuid()) {
    throw std::runtime_error("Runtime folder is not owned by the current user: " + folder.string());
  }
  if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    throw std::runtime_error("Runtime folder is accessible by other users: " + folder.string());
  }
}

sockaddr_un MakeAddress(const std::filesystem::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.native().size());
  return address;
}

std::optional<ucred> PeerCredentials(int fd) {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return std::nullopt;
  return credentials;
}

std::optional<uid_t> PeerUid(int fd) {
  const auto credentials = PeerCredentials(fd);
  if (!credentials) return std::nullopt;
  return credentials->uid;
}

enum class Readiness { kReady, kTimedOut, kWoken, kFailed };

// Waits until fd shows one of events (or hang-up/error, which the next call on
// fd reports), until wakeFd becomes readable (when wakeFd >= 0), or until the
// timeout has passed.
Readiness WaitFor(int fd, short events, int wakeFd, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (true) {
    pollfd fds[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
    const auto left =
        std::max(std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()),
                 std::chrono::milliseconds(0));
    const int ready = poll(fds, wakeFd >= 0 ? 2 : 1, static_cast<int>(left.count()));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return Readiness::kFailed;
    }
    if (wakeFd >= 0 && fds[1].revents != 0) return Readiness::kWoken;
    if (fds[0].revents != 0) return Readiness::kReady;
    if (Clock::now() >= deadline) return Readiness::kTimedOut;
  }
}

struct Connection {
  UniqueFd fd;
  int error = 0;  // errno of the last attempt when fd is not valid
};

Connection Connect(const std::filesystem::path& path, Clock::time_point deadline) {
  const sockaddr_un address = MakeAddress(path);
  while (true) {
    Connection connection;
    connection.fd = UniqueFd(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!connection.fd.Valid()) {
      connection.error = errno;
      return connection;
    }
    if (connect(connection.fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
        0) {
      return connection;
    }
    connection.error = errno;
    connection.fd.Reset();
    if (connection.error != EAGAIN && connection.error != EINTR) return connection;
    if (Clock::now() >= deadline) return connection;
    std::this_thread::sleep_for(kConnectRetryPause);
  }
}

enum class SendResult { kSent, kFailed, kWoken };

// Sends one record; waits at most `stall` each time the peer's side is full.
SendResult SendRecord(int fd, const char* data, std::size_t size, int wakeFd,
                      std::chrono::milliseconds stall) {
  while (true) {
    const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0) {
      return static_cast<std::size_t>(sent) == size ? SendResult::kSent : SendResult::kFailed;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return SendResult::kFailed;
    switch (WaitFor(fd, POLLOUT, wakeFd, stall)) {
      case Readiness::kReady:
        break;
      case Readiness::kWoken:
        return SendResult::kWoken;
      case Readiness::kTimedOut:
      case Readiness::kFailed:
        return SendResult::kFailed;
    }
  }
}

// Closing a Unix socket with unread records makes the peer's reads fail with
// ECONNRESET instead of ending cleanly, which would hide the answer already
// sent. So whatever a client sent after its request is read and dropped first.
void DiscardPendingRecords(int fd) {
  char scrap[1];
  for (int i = 0; i < kMaxDiscardedRecords; ++i) {
    const ssize_t got = recv(fd, scrap, sizeof scrap, MSG_DONTWAIT | MSG_TRUNC);
    if (got > 0) continue;
    if (got < 0 && errno == EINTR) continue;
    return;
  }
}

UniqueFd TakeLock(const std::filesystem::path& socketPath) {
  const std::filesystem::path lockPath = socketPath.string() + ".lock";
  UniqueFd lock(open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!lock.Valid())
    ThrowSystemError(errno, "Cannot open the socket lock file " + lockPath.string());
  while (flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) throw std::runtime_error(AlreadyRunning(socketPath));
    ThrowSystemError(errno, "Cannot lock " + lockPath.string());
  }
  return lock;
}

UniqueFd BindListening(const std::filesystem::path& path) {
  UniqueFd listening(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!listening.Valid()) ThrowSystemError(errno, "Cannot create the service socket");
  const sockaddr_un address = MakeAddress(path);
  const auto bindAddress = [&] {
    return bind(listening.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
  };
  if (bindAddress() != 0) {
    if (errno != EADDRINUSE) ThrowSystemError(errno, "Cannot bind " + path.string());
    // We hold the lock, so no server of ours is starting on this name; a file
    // that still answers belongs to something else, and is never taken over.
    const Connection probe = Connect(path, Clock::now());
    if (probe.fd.Valid() || probe.error == EAGAIN) throw std::runtime_error(AlreadyRunning(path));
    if (probe.error != ECONNREFUSED && probe.error != ENOENT) {
      ThrowSystemError(probe.error, "Cannot check the existing socket file " + path.string());
    }
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
      ThrowSystemError(errno, "Cannot remove the stale socket file " + path.string());
    }
    if (bindAddress() != 0) ThrowSystemError(errno, "Cannot bind " + path.string());
  }
  // Nobody can connect before listen(), so the mode is narrowed in time.
  if (chmod(path.c_str(), 0600) != 0 || listen(listening.Get(), kListenBacklog) != 0) {
    const int error = errno;
    unlink(path.c_str());
    ThrowSystemError(error, "Cannot listen on " + path.string());
  }
  return listening;
}

}  // namespace

std::filesystem::path RuntimeFolder() {
  std::filesystem::path folder;
  const auto fromEnvironment = GetEnvironment("XDG_RUNTIME_DIR");
  if (fromEnvironment && std::filesystem::path(*fromEnvironment).is_absolute()) {
    folder = *fromEnvironment;
  } else {
    folder = "/tmp/varnel-" + std::to_string(geteuid());
  }
  if (mkdir(folder.c_str(), 0700) == 0) {
    // The umask may have taken away more than group and other access.
    chmod(folder.c_str(), 0700);
  } else if (errno != EEXIST) {
    throw std::runtime_error("Cannot create runtime folder: " + folder.string());
  }
  CheckRuntimeFolder(folder);
  return folder;
}

std::filesystem::path PipePath(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\0') != std::string::npos) {
    throw std::runtime_error("Invalid pipe name: " + name);
  }
  std::filesystem::path path = RuntimeFolder() / name;
  if (path.native().size() >= sizeof(sockaddr_un::sun_path)) {
    throw std::runtime_error("Socket path is too long: " + path.string());
  }
  return path;
}

std::optional<std::string> SendPipeRequest(const std::string& name, const std::string& request,
                                           std::size_t maxResponseBytes,
                                           std::chrono::milliseconds timeout) {
  std::filesystem::path path;
  try {
    path = PipePath(name);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  Connection connection = Connect(path, Clock::now() + timeout);
  if (!connection.fd.Valid()) return std::nullopt;
  const int fd = connection.fd.Get();
  // The folder is private already; this also refuses a server of another user.
  if (PeerUid(fd) != geteuid()) return std::nullopt;

  if (SendRecord(fd, request.data(), request.size(), -1, timeout) != SendResult::kSent) {
    return std::string();
  }
  std::string response;
  std::vector<char> buffer(kMaxResponseRecordBytes);
  while (response.size() < maxResponseBytes) {
    if (WaitFor(fd, POLLIN, -1, timeout) != Readiness::kReady) return std::string();
    const ssize_t got = recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (got == 0) return response;
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      // A reset or an error mid-answer: what came so far is not the answer.
      return std::string();
    }
    response.append(buffer.data(),
                    std::min(static_cast<std::size_t>(got), maxResponseBytes - response.size()));
  }
  return response;
}

std::optional<int> PipeServerPid(const std::string& name, std::chrono::milliseconds timeout) {
  std::filesystem::path path;
  try {
    path = PipePath(name);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  const Connection connection = Connect(path, Clock::now() + timeout);
  if (!connection.fd.Valid()) return std::nullopt;
  const auto credentials = PeerCredentials(connection.fd.Get());
  if (!credentials || credentials->uid != geteuid()) return std::nullopt;
  return static_cast<int>(credentials->pid);
}

struct PipeListener::State {
  Handler handler;
  std::chrono::milliseconds clientWait{};
  std::filesystem::path socketPath;
  UniqueFd lock;
  UniqueFd wake;  // eventfd; written once by Stop, never read, so it stays readable
  UniqueFd listening;
  std::thread thread;
  bool stopped = false;  // owner's thread only

  void Serve();
  // False when Stop woke the thread meanwhile.
  bool ServeConnection(int fd, std::vector<char>& buffer);
};

void PipeListener::State::Serve() {
  std::vector<char> buffer(kMaxRequestBytes + 1);
  while (true) {
    switch (WaitFor(listening.Get(), POLLIN, wake.Get(), std::chrono::hours(24))) {
      case Readiness::kWoken:
        return;
      case Readiness::kTimedOut:
        continue;
      case Readiness::kFailed:
        if (WaitFor(wake.Get(), POLLIN, -1, kAcceptRetryPause) == Readiness::kReady) return;
        continue;
      case Readiness::kReady:
        break;
    }
    UniqueFd connection(accept4(listening.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!connection.Valid()) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED) {
        continue;
      }
      if (WaitFor(wake.Get(), POLLIN, -1, kAcceptRetryPause) == Readiness::kReady) return;
      continue;
    }
    if (!ServeConnection(connection.Get(), buffer)) return;
  }
}

bool PipeListener::State::ServeConnection(int fd, std::vector<char>& buffer) {
  if (PeerUid(fd) != geteuid()) return true;
  switch (WaitFor(fd, POLLIN, wake.Get(), clientWait)) {
    case Readiness::kWoken:
      return false;
    case Readiness::kTimedOut:
    case Readiness::kFailed:
      return true;
    case Readiness::kReady:
      break;
  }
  ssize_t got;
  do {
    // MSG_TRUNC reports the record's real length, so an oversized one is seen.
    got = recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC);
  } while (got < 0 && errno == EINTR);
  if (got <= 0 || static_cast<std::size_t>(got) > kMaxRequestBytes) {
    DiscardPendingRecords(fd);
    return true;
  }

  std::string response;
  try {
    response = handler(std::string(buffer.data(), static_cast<std::size_t>(got)));
  } catch (...) {
    // The server outlives any one request; this client just gets no answer.
    DiscardPendingRecords(fd);
    return true;
  }
  for (std::size_t offset = 0; offset < response.size(); offset += kMaxResponseRecordBytes) {
    const std::size_t size = std::min(kMaxResponseRecordBytes, response.size() - offset);
    const SendResult result =
        SendRecord(fd, response.data() + offset, size, wake.Get(), clientWait);
    if (result == SendResult::kWoken) return false;
    if (result == SendResult::kFailed) break;
  }
  DiscardPendingRecords(fd);
  return true;
}

PipeListener::PipeListener(const std::string& name, Handler handler,
                           std::chrono::milliseconds clientWait)
    : state(std::make_unique<State>()) {
  state->handler = std::move(handler);
  state->clientWait = clientWait;
  const std::filesystem::path path = PipePath(name);
  state->wake = UniqueFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!state->wake.Valid()) ThrowSystemError(errno, "Cannot create the service wake-up event");
  state->lock = TakeLock(path);
  state->listening = BindListening(path);
  state->socketPath = path;
}

PipeListener::~PipeListener() { Stop(); }

void PipeListener::Start() {
  if (state->stopped || state->thread.joinable()) return;
  State* serving = state.get();
  state->thread = std::thread([serving] { serving->Serve(); });
}

void PipeListener::Stop() {
  if (state->stopped) return;
  state->stopped = true;
  const std::uint64_t one = 1;
  (void)!write(state->wake.Get(), &one, sizeof one);
  if (state->thread.joinable()) state->thread.join();
  state->listening.Reset();
  unlink(state->socketPath.c_str());
  // Released last, so a server starting now never sees our socket file.
  state->lock.Reset();
}

}  // namespace vn::platform

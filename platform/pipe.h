#pragma once

// Local request channel between the service and its clients. On Linux a "pipe"
// named N is the SOCK_SEQPACKET Unix socket file N in the runtime folder; on
// Windows it is the named pipe \\.\pipe\N in message mode, local clients only.
//
// Framing: a request is exactly one record of 1 to 8191 bytes. The response is
// sent as one or more records of at most 65,536 bytes each, then the server
// closes the connection; a client reads records until end of stream and
// concatenates them. One request and one response per connection. On Windows
// the response is one message (read in pieces of at most 65,536 bytes), and a
// client's last read may fail with "pipe not connected" or "broken pipe": both
// end the answer.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vn::platform {

inline constexpr std::size_t kMaxRequestBytes = 8191;
inline constexpr std::size_t kMaxResponseRecordBytes = 65536;

// How long the server waits for a connected client's request, and for a write
// of the response to make progress, before it drops the connection.
inline constexpr std::chrono::milliseconds kClientWait{5000};

// $XDG_RUNTIME_DIR when set and absolute, else /tmp/varnel-<uid> (created 0700).
// Throws std::runtime_error naming the folder when it is not a directory owned by
// the current user, or when group or others can access it. On Windows the pipe
// namespace \\.\pipe\, which is never checked.
std::filesystem::path RuntimeFolder();

// RuntimeFolder() / name. Throws std::runtime_error when the path does not fit
// a Unix socket address (on Windows: when the name holds a slash, a backslash
// or a zero byte).
std::filesystem::path PipePath(const std::string& name);

// Client side: connects to the pipe, writes the request as one record, reads
// records until end of stream (at most maxResponseBytes; the rest is dropped),
// each wait bounded by timeout. Returns nullopt when the pipe cannot be opened
// (no socket file, nothing listening, unsafe runtime folder, path too long).
// A connection that ends without an answer gives an empty string.
std::optional<std::string> SendPipeRequest(const std::string& name, const std::string& request,
                                           std::size_t maxResponseBytes,
                                           std::chrono::milliseconds timeout);

// The pid of the process of this user listening on the pipe, read from the
// socket's peer credentials, without sending a request (the server sees an
// empty connection and drops it). nullopt when nothing listens: no socket file,
// connection refused, unsafe runtime folder. On Windows the pipe server's
// process id (GetNamedPipeServerProcessId), of whichever user.
std::optional<int> PipeServerPid(const std::string& name, std::chrono::milliseconds timeout);

// Server side: one listening socket, serving one connection at a time on a
// thread of its own. Created and stopped from one thread (the owner's). The
// handler runs on the serving thread only, never twice at once; a handler that
// throws gets its connection closed unanswered and the server goes on.
class PipeListener {
 public:
  using Handler = std::function<std::string(const std::string& request)>;

  // Binds and listens on PipePath(name) with mode 0600. A stale socket file
  // (connection refused) is replaced. Throws std::runtime_error when another
  // listener already serves the name ("... a service is already running"), when
  // the runtime folder is unsafe, or when binding fails. Holds the lock file
  // "<name>.lock" in the runtime folder while it lives, so two starting
  // services never both take the name. clientWait bounds every wait on a client.
  // On Windows there is no file and no lock: a name that already answers is
  // taken, and the first instance is made with FILE_FLAG_FIRST_PIPE_INSTANCE.
  PipeListener(const std::string& name, Handler handler,
               std::chrono::milliseconds clientWait = kClientWait);

  // Stops the thread (returns promptly, whatever a client is doing) and removes
  // the socket file (Windows: closes the pipe instance).
  ~PipeListener();

  PipeListener(const PipeListener&) = delete;
  PipeListener& operator=(const PipeListener&) = delete;

  // Starts the serving thread. Does nothing when already started or stopped.
  void Start();

  // Wakes and joins the serving thread, closes the socket and removes its file;
  // idempotent. Never waits for a client; waits only for a handler call that is
  // already running to return.
  void Stop();

 private:
  struct State;
  std::unique_ptr<State> state;
};

}  // namespace vn::platform

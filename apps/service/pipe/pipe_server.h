#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/pipe.h"

namespace vn {

// The service's only inbound channel: serves the pipe `pipeName` one connection
// at a time on a thread of its own, calling the handler once per request.
// SetHandler, Start, Stop and the destructor are called from the owner's thread;
// the handler runs on the server thread only.
class PipeServer {
 public:
  using Handler = std::function<std::string(const std::string& request)>;

  explicit PipeServer(std::string pipeName);
  ~PipeServer();

  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  // Replaces the handler; call before Start.
  void SetHandler(Handler handler);

  // Binds the socket and starts the thread; does nothing when already started.
  // Throws std::runtime_error when the socket cannot be served (unsafe runtime
  // folder, another service already running).
  void Start();

  // Wakes and joins the thread, removes the socket file; returns at once and
  // does nothing when not started.
  void Stop();

 private:
  std::string pipeName;
  Handler handler;
  std::unique_ptr<platform::PipeListener> listener;
};

}  // namespace vn

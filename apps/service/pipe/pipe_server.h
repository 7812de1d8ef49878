#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/pipe.h"

namespace vn {

// The service's only inbound channel: serves the pipe `pipeName` one connection
// at a time on a thread of its own, calling the handler once per request and
// sending back what it returns. It knows nothing about what requests mean.
// Start, Stop and the destructor are called from the owner's thread; the
// handler runs on the server thread only, never twice at once.
class PipeServer {
 public:
  using Handler = std::function<std::string(const std::string& request)>;

  explicit PipeServer(std::string pipeName);
  // Stops the server first, so the handler is never called after destruction.
  ~PipeServer();

  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  // Replaces the handler; the next request uses the new one. Until a handler is
  // set, every request is answered {"ok":false,"error":"No handler registered"}.
  // Any thread.
  void SetHandler(Handler handler);

  // Claims the socket without serving it yet, so a second service fails before
  // it touches any state; clients that connect meanwhile wait in the listen
  // backlog until Start. Does nothing when already bound. Throws
  // std::runtime_error when the socket cannot be served (unsafe runtime folder,
  // another service already running).
  void Bind();

  // Binds when not yet bound, then starts the thread; does nothing when already
  // started. Throws as Bind does. Can be called again after Stop.
  void Start();

  // Wakes and joins the thread, removes the socket file; does nothing when not
  // bound. Never waits for a client; waits for a handler call in progress.
  void Stop();

 private:
  std::string Answer(const std::string& request);

  std::string pipeName;
  std::mutex handlerMutex;
  Handler handler;  // guarded by handlerMutex
  std::unique_ptr<platform::PipeListener> listener;
};

}  // namespace vn

#include "apps/service/pipe/pipe_server.h"

#include <utility>

#include "apps/protocol/answers.h"
#include "apps/protocol/error_texts.h"

namespace vn {

PipeServer::PipeServer(std::string pipeName) : pipeName(std::move(pipeName)) {}

PipeServer::~PipeServer() { Stop(); }

void PipeServer::SetHandler(Handler newHandler) {
  std::lock_guard lock(handlerMutex);
  handler = std::move(newHandler);
}

void PipeServer::Bind() {
  if (listener) return;
  listener = std::make_unique<platform::PipeListener>(
      pipeName, [this](const std::string& request) { return Answer(request); });
}

void PipeServer::Start() {
  Bind();
  listener->Start();
}

void PipeServer::Stop() {
  if (!listener) return;
  listener->Stop();
  listener.reset();
}

std::string PipeServer::Answer(const std::string& request) {
  Handler current;
  {
    // Copied so that SetHandler never waits for a request in progress.
    std::lock_guard lock(handlerMutex);
    current = handler;
  }
  if (!current) return OkFirstErrorAnswer(error_text::kNoHandlerRegistered);
  return current(request);
}

}  // namespace vn

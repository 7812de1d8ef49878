#include "apps/service/engine/worker_threads.h"

namespace vn {

WorkerThreads::WorkerThreads(std::size_t count, const std::function<void()>& body,
                             const Starter& start) {
  try {
    threads.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      threads.push_back(start ? start(body) : std::thread(body));
    }
  } catch (...) {
    // Out of threads or memory: fewer workers only make the download slower,
    // and splitting spreads the work over those that started.
  }
}

WorkerThreads::~WorkerThreads() { JoinAll(); }

void WorkerThreads::JoinAll() {
  for (std::thread& thread : threads) {
    if (thread.joinable()) thread.join();
  }
}

}  // namespace vn

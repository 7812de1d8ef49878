#include "apps/service/engine/pipelined_hasher.h"

namespace vn {

PipelinedHasher::PipelinedHasher() {
  buffers[0] = std::make_unique<char[]>(kChunkBytes);
  buffers[1] = std::make_unique<char[]>(kChunkBytes);
  thread = std::thread([this] { HashLoop(); });
}

PipelinedHasher::~PipelinedHasher() {
  {
    std::lock_guard lock(mutex);
    closing = true;
  }
  changed.notify_all();
  if (thread.joinable()) thread.join();
}

char* PipelinedHasher::Buffer() {
  std::unique_lock lock(mutex);
  changed.wait(lock, [&] { return !busy[fillIndex]; });
  return buffers[fillIndex].get();
}

void PipelinedHasher::Submit(std::size_t size) {
  if (size == 0) return;
  {
    std::lock_guard lock(mutex);
    busy[fillIndex] = true;
    pendingSize[fillIndex] = size;
  }
  changed.notify_all();
  fillIndex = 1 - fillIndex;
}

void PipelinedHasher::HashLoop() {
  std::size_t next = 0;  // chunks are hashed in the order they were submitted
  std::unique_lock lock(mutex);
  while (true) {
    changed.wait(lock, [&] { return busy[next] || closing; });
    if (!busy[next]) return;  // closing and nothing left
    const std::size_t size = pendingSize[next];
    lock.unlock();
    std::exception_ptr error;
    try {
      hash.Update(buffers[next].get(), size);
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    if (error && !failure) failure = error;
    busy[next] = false;
    pendingSize[next] = 0;
    changed.notify_all();
    next = 1 - next;
  }
}

std::string PipelinedHasher::Finish() {
  {
    std::lock_guard lock(mutex);
    closing = true;
  }
  changed.notify_all();
  thread.join();
  if (failure) std::rethrow_exception(failure);
  return hash.FinishHex();
}

}  // namespace vn

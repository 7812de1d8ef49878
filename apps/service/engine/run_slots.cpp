#include "apps/service/engine/run_slots.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "platform/process.h"

namespace vn {

RunSlots::RunSlots(std::size_t limit) : slotLimit(std::max<std::size_t>(1, limit)) {}

void RunSlots::Start(RunBody body, StartFailure onFailure) {
  std::unique_lock lock(mutex);
  if (active < slotLimit && waiting.empty()) {
    ++active;
    try {
      Launch(std::move(body));
    } catch (...) {
      --active;
      throw;
    }
    return;
  }
  waiting.push_back({std::move(body), std::move(onFailure)});
  StartWaiting(lock);
}

void RunSlots::Launch(RunBody body) {
  std::thread([self = shared_from_this(), body = std::move(body)] {
    // The run's workers and hasher inherit this, so commands are answered
    // at once even while every core transfers.
    platform::ScheduleAsBulkWork();
    body();
    self->Release();
  }).detach();
}

void RunSlots::Release() {
  std::unique_lock lock(mutex);
  --active;
  StartWaiting(lock);
}

void RunSlots::StartWaiting(std::unique_lock<std::mutex>& lock) {
  while (active < slotLimit && !waiting.empty()) {
    Waiting next = std::move(waiting.front());
    waiting.pop_front();
    ++active;
    try {
      Launch(std::move(next.body));
    } catch (...) {
      // The system is out of threads: this run ends unstarted, and the rest
      // wait for the next run that ends.
      --active;
      lock.unlock();
      if (next.onFailure) next.onFailure();
      lock.lock();
      return;
    }
  }
}

}  // namespace vn

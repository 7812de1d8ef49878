#pragma once

// The bound on runs that transfer at once. Runs wait here in the order they
// were queued and are started, each on a detached thread of its own, as slots
// free up. Shared (reference counted) by the engine and every run it started,
// so a run that ends after the engine is gone still hands its slot on.
// Every member may be called from any thread; none calls out under its lock
// except to start a thread.

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace vn {

class RunSlots : public std::enable_shared_from_this<RunSlots> {
 public:
  // The body of one run; it holds a slot from its start until it returns.
  using RunBody = std::function<void()>;
  // Called instead of the body when its thread cannot be started.
  using StartFailure = std::function<void()>;

  explicit RunSlots(std::size_t limit);

  // Starts body at once when a slot is free and no run waits; otherwise it
  // waits behind the others. Throws std::system_error only when the run was
  // to start at once and its thread could not be started (nothing waits
  // then). A waiting run whose thread later fails to start gets onFailure.
  void Start(RunBody body, StartFailure onFailure);

  std::size_t limit() const { return slotLimit; }

 private:
  struct Waiting {
    RunBody body;
    StartFailure onFailure;
  };

  // Starts waiting runs while slots are free. Caller holds mutex.
  void StartWaiting(std::unique_lock<std::mutex>& lock);
  void Launch(RunBody body);  // throws when the thread cannot be started
  void Release();

  const std::size_t slotLimit;
  std::mutex mutex;
  std::size_t active = 0;        // guarded by mutex
  std::deque<Waiting> waiting;   // guarded by mutex
};

}  // namespace vn

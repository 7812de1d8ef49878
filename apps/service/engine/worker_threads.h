#pragma once

// The segment worker threads of one run, started together and always joined.

#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

namespace vn {

// Owned and used by the run thread only.
class WorkerThreads {
 public:
  // Makes one thread running body; the default is std::thread. Tests put a
  // starter here that fails the way a starved system does.
  using Starter = std::function<std::thread(const std::function<void()>& body)>;

  // Starts up to count threads running body, one after the other. The first
  // start that throws, whatever it throws, ends the starting; the threads
  // already started keep running, and started() says how many there are.
  // body must outlive this object.
  WorkerThreads(std::size_t count, const std::function<void()>& body,
                const Starter& start = nullptr);
  // Joins every thread still joinable, so none is ever destroyed running.
  ~WorkerThreads();
  WorkerThreads(const WorkerThreads&) = delete;
  WorkerThreads& operator=(const WorkerThreads&) = delete;

  std::size_t started() const { return threads.size(); }
  // Waits for every started thread to end.
  void JoinAll();

 private:
  std::vector<std::thread> threads;
};

}  // namespace vn

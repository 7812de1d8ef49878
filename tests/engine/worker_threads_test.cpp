#include "apps/service/engine/worker_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <new>
#include <stdexcept>
#include <system_error>

namespace vn {
namespace {

// Whatever the third start throws, the two started workers run on, and the
// group joins them before it goes (a running std::thread destroyed would end
// the process).
TEST(WorkerThreads, AStartThatThrowsAnythingKeepsAndJoinsTheStartedOnes) {
  const std::function<void()> failures[] = {
      [] { throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)); },
      [] { throw std::bad_alloc(); },
      [] { throw std::runtime_error("no thread"); },
      [] { throw 42; },
  };
  for (const auto& failure : failures) {
    std::promise<void> go;
    const std::shared_future<void> released = go.get_future().share();
    std::atomic<int> finished{0};
    const std::function<void()> body = [&] {
      released.wait_for(std::chrono::seconds(10));
      ++finished;
    };
    int starts = 0;
    {
      WorkerThreads workers(5, body, [&](const std::function<void()>& run) {
        if (++starts == 3) failure();
        return std::thread(run);
      });
      EXPECT_EQ(workers.started(), 2u);
      EXPECT_EQ(finished.load(), 0);
      go.set_value();
    }
    EXPECT_EQ(finished.load(), 2);
    EXPECT_EQ(starts, 3);
  }
}

}  // namespace
}  // namespace vn

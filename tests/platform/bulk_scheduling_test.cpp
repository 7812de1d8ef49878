// Transfer threads yield to the thread that answers clients, and so do the
// workers they start.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "platform/process.h"

namespace vn::platform {
namespace {

int ThreadNice() { return getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid))); }

TEST(BulkScheduling, RunThreadAndItsWorkersYieldToTheAnsweringThread) {
  const int nice = ThreadNice();
  int runNice = 0, workerNice = 0;
  std::thread([&] {
    ScheduleAsBulkWork();
    runNice = ThreadNice();
    std::thread([&] { workerNice = ThreadNice(); }).join();
  }).join();
  EXPECT_EQ(ThreadNice(), nice);
  EXPECT_GT(runNice, std::min(nice, 18));
  EXPECT_EQ(workerNice, runNice);
}

}  // namespace
}  // namespace vn::platform

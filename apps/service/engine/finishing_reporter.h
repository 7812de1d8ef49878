#pragma once

// Progress of the finishing phase (joining, then hashing), reported to
// clients at most every 100 ms.

#include <chrono>
#include <cstdint>
#include <functional>

#include "apps/service/task/download_task.h"

namespace vn {

// Holds references: task and report must outlive the reporter. Run thread
// only; Add may call report, which may throw (the run then fails).
class FinishingReporter {
 public:
  using Report = std::function<void()>;

  FinishingReporter(DownloadTask& task, Report report);

  // Adds bytes to finalizeDone; reports when the size is known and at least
  // 100 ms passed since this reporter's last report.
  void Add(std::int64_t bytes);

 private:
  DownloadTask& task;
  Report report;
  std::chrono::steady_clock::time_point lastReport;
};

}  // namespace vn

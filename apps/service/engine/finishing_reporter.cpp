#include "apps/service/engine/finishing_reporter.h"

namespace vn {
namespace {

constexpr auto kMinReportInterval = std::chrono::milliseconds(100);

}  // namespace

FinishingReporter::FinishingReporter(DownloadTask& task, Report report)
    : task(task), report(std::move(report)), lastReport(std::chrono::steady_clock::now()) {}

void FinishingReporter::Add(std::int64_t bytes) {
  task.finalizeDone += bytes;
  if (!report || task.totalBytes <= 0) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - lastReport < kMinReportInterval) return;
  lastReport = now;
  report();
}

}  // namespace vn

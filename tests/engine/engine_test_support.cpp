#include "tests/engine/engine_test_support.h"

#include <atomic>
#include <stdexcept>
#include <thread>

#include "tests/support/wait_until.h"

namespace vn::test {

bool IsTerminal(DownloadStatus status) {
  return status == DownloadStatus::Completed || status == DownloadStatus::Failed ||
         status == DownloadStatus::Paused || status == DownloadStatus::Cancelled;
}

DownloadEngine::TaskUpdateCallback ReportLog::Callback() {
  std::weak_ptr<ReportLog> weak = weak_from_this();
  return [weak](const DownloadTask& task) {
    if (const auto log = weak.lock()) {
      {
        std::lock_guard lock(log->mutex);
        log->reports.push_back(task);
      }
      log->changed.notify_all();
    }
  };
}

std::optional<DownloadTask> ReportLog::WaitFor(
    const std::function<bool(const DownloadTask&)>& predicate, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex);
  std::optional<DownloadTask> found;
  changed.wait_for(lock, timeout, [&] {
    for (const DownloadTask& report : reports) {
      if (predicate(report)) {
        found = report;
        return true;
      }
    }
    return false;
  });
  return found;
}

std::optional<DownloadTask> ReportLog::WaitForEnd(int n, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex);
  std::optional<DownloadTask> found;
  changed.wait_for(lock, timeout, [&] {
    int seen = 0;
    for (const DownloadTask& report : reports) {
      if (IsTerminal(report.status) && ++seen == n) {
        found = report;
        return true;
      }
    }
    return false;
  });
  return found;
}

std::vector<DownloadTask> ReportLog::Reports() const {
  std::lock_guard lock(mutex);
  return reports;
}

std::string NewTaskId() {
  static std::atomic<int> counter{0};
  return "dl_test_" + std::to_string(++counter);
}

DownloadTask MakeTask(const std::string& url, const std::filesystem::path& folder,
                      const std::string& fileName, int connectionCount) {
  DownloadTask task;
  task.id = NewTaskId();
  task.url = url;
  task.outputPath = folder.string();
  task.fileName = fileName;
  task.connectionCount = connectionCount;
  return task;
}

DownloadTask RunToEnd(const DownloadTask& task) {
  const auto log = ReportLog::Create();
  DownloadEngine engine;
  engine.SetTaskUpdateCallback(log->Callback());
  engine.Queue(task);
  const auto end = log->WaitForEnd();
  if (!end) throw std::runtime_error("download did not end in time");
  return *end;
}

bool WaitUntilNotRunning(const DownloadEngine& engine, const std::string& id,
                         std::chrono::milliseconds timeout) {
  return WaitUntil([&] { return !engine.IsRunning(id); }, timeout, std::chrono::milliseconds(5));
}

}  // namespace vn::test

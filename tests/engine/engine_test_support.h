#pragma once

// Helpers for driving the engine in tests: a thread-safe log of reports that
// can be awaited with a bound, and a task builder.

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "apps/service/engine/download_engine.h"
#include "apps/service/task/download_task.h"

namespace vn::test {

inline constexpr std::chrono::seconds kRunTimeout{60};

bool IsTerminal(DownloadStatus status);

// Collects every report of the runs it is installed for. Shared so that a run
// outliving a failed test still has somewhere to report.
class ReportLog : public std::enable_shared_from_this<ReportLog> {
 public:
  static std::shared_ptr<ReportLog> Create() { return std::make_shared<ReportLog>(); }

  DownloadEngine::TaskUpdateCallback Callback();

  // The first report, counting from the start, that satisfies predicate;
  // nullopt after timeout.
  std::optional<DownloadTask> WaitFor(const std::function<bool(const DownloadTask&)>& predicate,
                                      std::chrono::milliseconds timeout = kRunTimeout);
  // The n-th (1-based) terminal report.
  std::optional<DownloadTask> WaitForEnd(int n = 1,
                                         std::chrono::milliseconds timeout = kRunTimeout);
  std::vector<DownloadTask> Reports() const;

 private:
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::vector<DownloadTask> reports;  // guarded by mutex
};

// A unique id per call, so runs of different tests never share a registry entry.
std::string NewTaskId();

DownloadTask MakeTask(const std::string& url, const std::filesystem::path& folder,
                      const std::string& fileName = "file.bin", int connectionCount = 8);

// Queues task on a fresh engine reporting to a fresh log and waits for the end.
DownloadTask RunToEnd(const DownloadTask& task);

// Polls IsRunning until it answers false or the timeout passes.
bool WaitUntilNotRunning(const DownloadEngine& engine, const std::string& id,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace vn::test

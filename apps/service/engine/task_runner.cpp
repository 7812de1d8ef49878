#include "apps/service/engine/task_runner.h"

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "apps/protocol/error_texts.h"
#include "apps/protocol/status_texts.h"
#include "apps/service/engine/checksum.h"
#include "apps/service/engine/download_plan.h"
#include "apps/service/engine/download_probe.h"
#include "apps/service/engine/finishing_reporter.h"
#include "apps/service/engine/outage_schedule.h"
#include "apps/service/engine/partial_files.h"
#include "apps/service/engine/refresh_overlap.h"
#include "apps/service/engine/segment_join.h"
#include "apps/service/engine/segment_picker.h"
#include "apps/service/engine/segment_transfer.h"
#include "apps/service/engine/transient_failure.h"
#include "apps/service/engine/worker_threads.h"
#include "platform/http.h"

namespace vn {
namespace {

constexpr auto kMonitorInterval = std::chrono::milliseconds(500);
// Fresh starts allowed when the resource changes under a run; the next change
// fails it, so a server that never answers consistently cannot loop forever.
constexpr int kRestartsOnChange = 1;

// Ends a transfer whose answers were not the probed resource.
class ResourceChangedError : public std::runtime_error {
 public:
  ResourceChangedError()
      : std::runtime_error("The file changed on the server during the download") {}
};
// Followed by the first failing worker's own text, so that a full disk and a
// refusing server read differently; clients match on this start.
constexpr const char* kSegmentFailed = "Segment download failed: ";
// For a failure that is no standard exception and so has no text of its own.
constexpr const char* kUnknownFailure = "Unknown download failure";
// How often a wait for a server that is down is reported, with what is left.
constexpr auto kWaitReportInterval = std::chrono::milliseconds(5000);

std::string NotEnoughSpaceText(std::int64_t needed, std::int64_t available) {
  return "Not enough disk space: the download needs " + std::to_string(needed) +
         " more bytes, the disk has " + std::to_string(available) + " bytes free";
}

// State of one run; lives on the run thread's stack.
class TaskRun {
 public:
  TaskRun(const DownloadTask& queued, DownloadControl& control, const TaskReport& report)
      : queued(queued),
        task(queued),
        control(control),
        report(report),
        knownTotalBytes(queued.totalBytes) {}

  void Run(StartMode mode);
  void Fail(const std::string& reason) noexcept;

 private:
  void Report() {
    if (report) report(task);
  }
  // Probe, plan and transfer, started over once when the resource changes
  // under the transfer. Returns false when the run ended paused or cancelled.
  bool ProbeAndTransfer(platform::HttpSession& session, const platform::RequestTarget& target);
  // Waits out a transient failure, listed Downloading at speed 0. Returns
  // false when a stop ended the run meanwhile.
  bool WaitOutOutage(const std::string& cause, std::chrono::milliseconds pause);
  void Prepare(const ProbeResult& probe, platform::HttpSession& session,
               const platform::RequestTarget& target);
  void DiscardProgress();
  // Ends the run for a settled stop: paused keeps the progress, cancelled
  // removes the files.
  void EndStopped(bool paused);
  // Returns false when the run ended paused or cancelled.
  bool Transfer(platform::HttpSession& session, const platform::RequestTarget& target);
  void RunWorkers(platform::HttpSession& session, const platform::RequestTarget& target);
  void Finish();

  const DownloadTask& queued;
  DownloadTask task;
  DownloadControl& control;
  const TaskReport& report;

  // The size the kept progress was planned for: the queued one, then the
  // latest probe's.
  std::int64_t knownTotalBytes;
  int changeRestarts = 0;
  bool rangeSupport = false;
  std::filesystem::path segmentsFolder;
  std::size_t workerCount = 1;
  std::size_t segmentRoom = 1;
  std::mutex segmentMutex;  // guards task.segments while workers run
  std::atomic<std::int64_t> transferredBytes{0};
  std::atomic<bool> wholeBodyReceived{false};
  std::atomic<bool> resourceChanged{false};
  std::atomic<bool> transferFailed{false};
};

void TaskRun::Run(StartMode mode) {
  task.status = DownloadStatus::Starting;
  task.speedBytesPerSecond = 0;
  task.failureReason.clear();
  const platform::RequestTarget target =
      platform::MakeRequestTarget(task.url, task.userAgent, task.referrer, task.cookie);
  // No answer of a server can mend paths that cannot be used; an outage wait
  // would only put the failure off.
  if (!HasSafeFilePaths(task)) throw std::invalid_argument(kInvalidFileName);

  // Earlier runs of the id have ended (the engine waited for them), so what
  // they left can go now without pulling it from under a live transfer.
  if (mode == StartMode::FromZero) {
    RemoveDownloadFiles(task, true);
    task.segments.clear();
    task.downloadedBytes = 0;
  }
  platform::HttpSession session;
  // An outage goes on from the bytes already held, with a fresh probe: the
  // server that comes back may serve another version.
  OutageSchedule outage(control.clock->Now(), task.downloadedBytes);
  for (;;) {
    try {
      if (!ProbeAndTransfer(session, target)) return;
      break;
    } catch (const TransientFailure& failure) {
      const auto pause =
          outage.NextPause(control.clock->Now(), task.downloadedBytes, failure.retryAfter());
      if (!pause) throw;
      resourceChanged.store(false);
      if (!WaitOutOutage(failure.what(), *pause)) return;
    }
  }
  Finish();
}

bool TaskRun::WaitOutOutage(const std::string& cause, std::chrono::milliseconds pause) {
  task.status = DownloadStatus::Downloading;
  task.speedBytesPerSecond = 0;
  // The wait is listed with its cause and what is left of it, so a download
  // that waits is not taken for one that transfers nothing.
  const auto until = control.clock->Now() + pause;
  for (auto now = control.clock->Now(); now < until; now = control.clock->Now()) {
    const auto left = std::chrono::ceil<std::chrono::seconds>(until - now);
    task.failureReason = status_text::WaitingText(cause, left);
    Report();
    const auto step = std::min<std::chrono::milliseconds>(
        kWaitReportInterval, std::chrono::duration_cast<std::chrono::milliseconds>(until - now));
    if (!SleepUnlessStopped(*control.clock, step, control.stopRequested)) {
      // A resume that took the stop back wants the download now.
      if (control.SettleStop()) {
        task.failureReason.clear();
        EndStopped(control.SettlePause());
        return false;
      }
      break;
    }
  }
  task.failureReason.clear();
  return true;
}

bool TaskRun::ProbeAndTransfer(platform::HttpSession& session,
                               const platform::RequestTarget& target) {
  for (;; ++changeRestarts) {
    // A stop that came before the probe succeeded (also while this run waited
    // for earlier ones) ends the run as asked, unless a resume took it back.
    std::optional<ProbeResult> probe;
    try {
      while (!(probe = ProbeDownload(session, target, control.stopRequested, *control.clock))) {
        if (control.SettleStop()) {
          EndStopped(control.SettlePause());
          return false;
        }
      }
    } catch (const ServerStatusError& refused) {
      // The browser's cookies went with the last service; the server wants them.
      const bool refusedForSignIn = refused.status() == 401 || refused.status() == 403;
      if (refusedForSignIn && task.signedIn && task.cookie.empty()) {
        throw std::runtime_error(error_text::kSignInExpired);
      }
      throw;
    }
    Prepare(*probe, session, target);
    try {
      return Transfer(session, target);
    } catch (const ResourceChangedError&) {
      if (changeRestarts >= kRestartsOnChange) throw;
    }
    // What arrived belongs to the old version: start over with a new probe and
    // a new plan, as if this run had just begun.
    DiscardProgress();
    task.connectionCount = queued.connectionCount;
    wholeBodyReceived.store(false);
    resourceChanged.store(false);
  }
}

void TaskRun::Prepare(const ProbeResult& probe, platform::HttpSession& session,
                      const platform::RequestTarget& target) {
  task.totalBytes = probe.totalBytes;
  rangeSupport = probe.rangeSupport;
  // The name may change only while nothing has been written under it.
  if (task.nameFromServerAllowed && task.segments.empty() && task.downloadedBytes == 0 &&
      control.settleFileName) {
    const std::string settled = control.settleFileName(task, probe.contentDisposition);
    if (!settled.empty()) task.fileName = settled;
  }
  task.nameFromServerAllowed = false;
  task.connectionCount =
      EffectiveConnectionCount(rangeSupport, task.totalBytes, task.connectionCount);

  segmentsFolder = CreateSegmentsFolder(task);
  if (!KeepEarlierProgress(task, knownTotalBytes, probe)) DiscardProgress();
  // Equal validators vouch for the bytes held; with none recorded, only the
  // bytes themselves can.
  const bool unvouchedRefresh = task.urlRefreshed && task.etag.empty() && task.lastModified.empty();
  task.etag = probe.etag;
  task.lastModified = probe.lastModified;
  task.urlRefreshed = false;
  knownTotalBytes = task.totalBytes;

  workerCount = static_cast<std::size_t>(std::max<std::int32_t>(1, task.connectionCount));
  if (!task.segments.empty() && !ReconcilePartFiles(task)) DiscardProgress();
  if (unvouchedRefresh && !task.segments.empty() &&
      !OverlapMatches(session, target, task, segmentsFolder, control.stopRequested)) {
    DiscardProgress();
  }
  if (task.segments.empty()) {
    task.downloadedBytes = 0;
    task.segments = PlanSegments(rangeSupport, task.totalBytes, task.connectionCount);
  }
  // The picker appends splits; with this room reserved the list never moves.
  segmentRoom = SegmentRoom(rangeSupport, workerCount, task.segments.size());
  task.segments.reserve(segmentRoom);
  task.downloadedBytes = SumDownloaded(task.segments);
  transferredBytes.store(task.downloadedBytes);
  // Planned, not discovered: a disk that cannot hold the rest fails the run
  // before a byte is fetched.
  // A file system that cannot tell its free space is not checked.
  std::error_code spaceError;
  const auto space = std::filesystem::space(segmentsFolder, spaceError);
  if (task.totalBytes > 0 && !spaceError) {
    const std::int64_t needed = task.totalBytes - task.downloadedBytes;
    const auto available = static_cast<std::int64_t>(space.available);
    if (available < needed) throw std::runtime_error(NotEnoughSpaceText(needed, available));
  }
}

void TaskRun::DiscardProgress() {
  RemoveDownloadFiles(task, false);
  CreateSegmentsFolder(task);
  task.segments.clear();
  task.downloadedBytes = 0;
}

bool TaskRun::Transfer(platform::HttpSession& session, const platform::RequestTarget& target) {
  task.status = DownloadStatus::Downloading;
  Report();
  const bool sizeKnown = task.totalBytes > 0;
  const auto incomplete = [&] {
    for (const DownloadSegment& segment : task.segments) {
      if (sizeKnown ? segment.downloadedBytes < SegmentLength(segment) : !wholeBodyReceived.load()) {
        return true;
      }
    }
    return false;
  };
  for (;;) {
    const int revivals = control.revivals.load();
    RunWorkers(session, target);
    if (control.SettleStop()) {
      EndStopped(control.SettlePause());
      return false;
    }
    if (resourceChanged.load()) throw ResourceChangedError();
    // Workers that ended for a stop a resume took back go on with the rest.
    if (control.revivals.load() == revivals || !incomplete()) break;
  }
  if (incomplete()) throw std::runtime_error("One or more download segments are incomplete");
  return true;
}

void TaskRun::EndStopped(bool paused) {
  if (paused) {
    task.status = DownloadStatus::Paused;
  } else {
    task.status = DownloadStatus::Cancelled;
    task.downloadedBytes = 0;
    for (DownloadSegment& segment : task.segments) segment.downloadedBytes = 0;
    RemoveDownloadFiles(task, true);
  }
  Report();
}

void TaskRun::RunWorkers(platform::HttpSession& session, const platform::RequestTarget& target) {
  std::atomic<bool> failed{false};
  std::mutex failureMutex;
  std::string firstFailure;  // guarded by failureMutex
  // Guarded by failureMutex; set when the first failure may pass by itself.
  std::optional<std::chrono::seconds> firstRetryAfter;
  std::mutex activeMutex;
  std::condition_variable workerEnded;
  // Counts down as workers end, and for every worker that never started.
  std::size_t activeWorkers = workerCount;  // guarded by activeMutex

  const auto fail = [&](const std::string& text, std::optional<std::chrono::seconds> retryAfter) {
    {
      std::lock_guard lock(failureMutex);
      if (!failed.exchange(true)) {
        firstFailure = text;
        firstRetryAfter = retryAfter;
      }
    }
    transferFailed.store(true);  // the other workers stop too
  };
  transferFailed.store(false);
  SegmentPicker picker(task.segments, segmentMutex, rangeSupport, segmentRoom);
  const SegmentJob job{task,   segmentsFolder,   segmentMutex,      control,        target,
                       transferredBytes, wholeBodyReceived, resourceChanged, transferFailed};
  const std::function<void()> workerBody = [&] {
    try {
      platform::HttpConnection connection(session);
      while (!control.stopRequested.load()) {
        const std::optional<std::size_t> index = picker.Next();
        if (!index) break;
        TransferSegment(job, connection, *index);
      }
    } catch (const TransientFailure& error) {
      fail(error.what(), error.retryAfter());
    } catch (const std::exception& error) {
      fail(error.what(), std::nullopt);
    } catch (...) {
      fail(kUnknownFailure, std::nullopt);
    }
    {
      std::lock_guard lock(activeMutex);
      --activeWorkers;
    }
    workerEnded.notify_all();
  };

  WorkerThreads workers(workerCount, workerBody);
  if (workers.started() == 0) throw std::runtime_error("Failed to start segment workers");
  {
    std::lock_guard lock(activeMutex);
    activeWorkers -= workerCount - workers.started();
  }

  try {
    auto previousTime = std::chrono::steady_clock::now();
    std::int64_t previousBytes = task.downloadedBytes;
    std::unique_lock lock(activeMutex);
    while (!workerEnded.wait_for(lock, kMonitorInterval, [&] { return activeWorkers == 0; })) {
      lock.unlock();
      task.downloadedBytes = transferredBytes.load();
      const auto now = std::chrono::steady_clock::now();
      const auto elapsed =
          std::chrono::duration_cast<std::chrono::milliseconds>(now - previousTime).count();
      if (elapsed >= 1) {
        task.speedBytesPerSecond = (task.downloadedBytes - previousBytes) * 1000 / elapsed;
        previousBytes = task.downloadedBytes;
        previousTime = now;
      }
      if (report) {
        std::unique_lock segmentLock(segmentMutex);
        const DownloadTask copy = task;
        segmentLock.unlock();
        report(copy);
      }
      lock.lock();
    }
  } catch (...) {
    // A report that throws fails the run, but never with workers left behind.
    failed.store(true);
    transferFailed.store(true);
    workers.JoinAll();
    throw;
  }
  workers.JoinAll();
  task.downloadedBytes = transferredBytes.load();
  task.speedBytesPerSecond = 0;
  if (failed.load()) {
    std::lock_guard lock(failureMutex);
    if (firstRetryAfter) throw TransientFailure(kSegmentFailed + firstFailure, *firstRetryAfter);
    throw std::runtime_error(kSegmentFailed + firstFailure);
  }
}

void TaskRun::Finish() {
  task.status = DownloadStatus::Verifying;
  task.speedBytesPerSecond = 0;
  task.finalizeTotal = task.totalBytes > 0 ? 2 * task.totalBytes : 0;
  task.finalizeDone = 0;
  Report();

  const std::filesystem::path finalPath = FinalFilePath(task);
  std::string digest;
  {
    FinishingReporter reporter(task, [this] { Report(); });
    try {
      digest = JoinPartFiles(task, segmentsFolder, finalPath, reporter);
    } catch (const std::runtime_error&) {
      // The failed join moved some bytes out of the partial files; the counts
      // say what the next run must fetch again.
      ReconcilePartFiles(task);
      task.downloadedBytes = SumDownloaded(task.segments);
      throw;
    }
  }

  // With an unknown size the completed segment records what arrived, so the
  // joined file is checked against that instead of not at all.
  std::int64_t expectedSize = task.totalBytes;
  if (expectedSize <= 0) {
    expectedSize = 0;
    for (const DownloadSegment& segment : task.segments) expectedSize += SegmentLength(segment);
  }
  if (static_cast<std::int64_t>(std::filesystem::file_size(finalPath)) != expectedSize) {
    RemoveDownloadFiles(task, true);
    throw std::runtime_error("Final file integrity check failed");
  }

  task.actualChecksum = NormalizeChecksum(digest);
  task.expectedChecksum = NormalizeChecksum(task.expectedChecksum);
  if (task.expectedChecksum.empty()) {
    task.checksumAlgorithm = "SHA256";
  } else if (task.expectedChecksum != task.actualChecksum) {
    RemoveDownloadFiles(task, true);
    throw std::runtime_error("Checksum verification failed");
  }

  task.finalizeDone = 0;
  task.finalizeTotal = 0;
  // A pause cannot stop a transfer that is over, but a cancel that came while
  // joining or hashing still decides what the download ends as.
  if (control.SettleStop() && !control.pauseRequested.load()) return EndStopped(false);

  RemoveDownloadFiles(task, false);
  task.segments.clear();
  task.status = DownloadStatus::Completed;
  Report();
}

void TaskRun::Fail(const std::string& reason) noexcept {
  task.speedBytesPerSecond = 0;
  task.status = DownloadStatus::Failed;
  task.failureReason = reason;
  try {
    Report();
  } catch (...) {
    // The report of a failure has nowhere further to go.
  }
}

}  // namespace

void RunDownloadTask(const DownloadTask& queued, DownloadControl& control, const TaskReport& report,
                     StartMode mode) noexcept {
  std::optional<TaskRun> run;
  try {
    run.emplace(queued, control, report);
    run->Run(mode);
  } catch (const std::exception& error) {
    if (run) run->Fail(error.what());
  } catch (...) {
    if (run) run->Fail(kUnknownFailure);
  }
}

}  // namespace vn

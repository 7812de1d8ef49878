#include "apps/service/core/download_service.h"

#include <chrono>
#include <filesystem>
#include <iostream>
#include <thread>

#include "apps/protocol/socket_names.h"
#include "apps/service/core/legacy_database.h"
#include "apps/service/engine/download_engine.h"
#include "apps/service/engine/partial_files.h"
#include "apps/service/pipe/pipe_server.h"
#include "apps/service/store/download_store.h"
#include "apps/service/torrent/torrent_engine.h"
#include "platform/locations.h"
#include "platform/process.h"

namespace vn {

// Engine runs are detached and may report after the service is gone; they reach
// it only through this sink, which the destructor disconnects under `mutex`
// (so no report is half-applied when the store goes away).
struct TaskUpdateSink {
  std::mutex mutex;
  DownloadService* service = nullptr;  // guarded by mutex
};

namespace {

constexpr auto kWaitStep = std::chrono::milliseconds(250);

bool Exists(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::exists(path, error) && !error;
}

// Tests set a small bound on the runs that transfer at once through
// VARNEL_MAX_ACTIVE_DOWNLOADS; unset (or not a positive number) in normal use.
std::size_t ActiveRunLimit() {
  const auto text = platform::GetEnvironment("VARNEL_MAX_ACTIVE_DOWNLOADS");
  if (!text) return DownloadEngine::kDefaultActiveRuns;
  try {
    const long value = std::stol(*text);
    if (value > 0) return static_cast<std::size_t>(value);
  } catch (const std::exception&) {
  }
  return DownloadEngine::kDefaultActiveRuns;
}

// Progress is staged for up to a second before it is stored, so after a
// crash the partial files may hold more than the list says; what the next
// run resumes from is what is listed.
void ListProgressOnDisk(DownloadTask& task) {
  if (task.segments.empty()) return;
  try {
    DownloadTask onDisk = task;
    if (!ReconcilePartFiles(onDisk)) return;  // the next run starts over anyway
    task.segments = onDisk.segments;
    task.downloadedBytes = SumDownloaded(task.segments);
  } catch (const std::filesystem::filesystem_error&) {
    // Unreadable now: the next run reconciles them again.
  }
}

bool IsOneOf(DownloadStatus status, std::initializer_list<DownloadStatus> statuses) {
  for (auto candidate : statuses) {
    if (status == candidate) return true;
  }
  return false;
}

}  // namespace

DownloadService::DownloadService() : updateSink(std::make_shared<TaskUpdateSink>()) {}

DownloadService::~DownloadService() {
  // First, whatever Start reached: no request may run against a component
  // that is being destroyed.
  running.store(false);
  if (pipeServer) pipeServer->Stop();
  {
    std::lock_guard<std::mutex> lock(updateSink->mutex);
    updateSink->service = nullptr;
  }
}

void DownloadService::Run() {
  // Before anything else, so a stop asked for during start-up still ends cleanly.
  platform::InstallStopSignalHandlers();
  Start();
  running.exchange(true);
  std::cout << "Download service started." << std::endl;
  while (running.load() && !platform::StopSignalReceived()) {
    std::this_thread::sleep_until(std::chrono::steady_clock::now() + kWaitStep);
  }
}

void DownloadService::Start() {
  // Claim the socket before touching any file: a second service must fail
  // here, not after it has replaced, reconciled or rewritten the first one's
  // database or torrent list.
  pipeServer = std::make_unique<PipeServer>(kServiceSocketName);
  pipeServer->Bind();

  const auto dataRoot = platform::ResolveDataRoot();
  const auto databasePath = dataRoot / "data" / "downloads.db";
  AdoptLegacyDatabase(databasePath);
  std::filesystem::create_directories(databasePath.parent_path());

  store = std::make_unique<DownloadStore>(databasePath.string());
  engine = std::make_unique<DownloadEngine>(ActiveRunLimit());
  TorrentEngine::Options torrentOptions;
  // Tests pin the torrent session to loopback; unset in normal use, where the
  // library's default listen interfaces apply.
  if (auto listen = platform::GetEnvironment("VARNEL_TORRENT_LISTEN_INTERFACES")) {
    torrentOptions.listenInterfaces = *listen;
  }
  torrentEngine = std::make_unique<TorrentEngine>(torrentOptions);
  torrentEngine->Start(platform::ResolveDataRoot() / "torrents");

  LoadStoredTasks(databasePath);
  for (const auto& task : tasks) listedTargets.Add(task);
  ReconcileStoredTasks();
  store->StartFlushing();

  {
    std::lock_guard<std::mutex> lock(updateSink->mutex);
    updateSink->service = this;
  }
  engine->SetTaskUpdateCallback([sink = updateSink](const DownloadTask& update) {
    std::lock_guard<std::mutex> lock(sink->mutex);
    if (sink->service != nullptr) sink->service->OnTaskUpdate(update);
  });
  engine->SetFileNameCallback(
      [sink = updateSink](const DownloadTask& run, const std::string& contentDisposition) {
        std::lock_guard<std::mutex> lock(sink->mutex);
        if (sink->service == nullptr) return run.fileName;
        return sink->service->SettleFileName(run, contentDisposition);
      });
  pipeServer->SetHandler([this](const std::string& request) { return HandleRequest(request); });
  pipeServer->Start();

  std::vector<DownloadTask> queued;
  {
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& task : tasks) {
      if (task.status == DownloadStatus::Queued) queued.push_back(task);
    }
  }
  for (const auto& task : queued) engine->Queue(task);
}

void DownloadService::LoadStoredTasks(const std::filesystem::path& databasePath) {
  try {
    const auto setAside = store->Initialize();
    if (!setAside.empty()) {
      std::cerr << "The download database " << databasePath.string()
                << " was not a database; it was kept as " << setAside.string()
                << " and a new, empty list begins." << std::endl;
    }
    tasks = store->LoadAll();
  } catch (const std::runtime_error& error) {
    // A file damaged inside is refused, not replaced: the rows it still holds
    // may be recovered by hand.
    throw std::runtime_error("The download database " + databasePath.string() +
                             " cannot be read (" + error.what() + "). Move it aside (mv " +
                             databasePath.string() + " " + databasePath.string() +
                             ".broken) to start with an empty list, or put back a copy.");
  }
}

void DownloadService::ReconcileStoredTasks() {
  for (auto& task : tasks) {
    task.speedBytesPerSecond = 0;
    if (!HasSafeFilePaths(task)) {
      // Written by an older version: every path derived from it may name
      // something else, so nothing on disk is looked at or touched for it.
      task.status = DownloadStatus::Failed;
      task.failureReason = kInvalidFileName;
      continue;
    }
    const auto finalPath = FinalFilePath(task);
    const auto segmentsFolder = SegmentsFolder(task);
    const bool finalExists = Exists(finalPath);
    const bool folderExists = Exists(segmentsFolder);

    switch (task.status) {
      case DownloadStatus::Completed:
        if (!finalExists) {
          task.status = DownloadStatus::Failed;
          ZeroProgress(task);
        } else {
          std::error_code error;
          const auto size = std::filesystem::file_size(finalPath, error);
          task.downloadedBytes = error ? -1 : static_cast<std::int64_t>(size);
          task.segments.clear();
          RemoveDownloadFiles(task, false);
        }
        break;
      case DownloadStatus::Cancelled:
        ZeroProgress(task);
        RemoveDownloadFiles(task, false);
        break;
      case DownloadStatus::Starting:
      case DownloadStatus::Downloading:
        task.status = DownloadStatus::Paused;
        break;
      default:
        break;
    }
    if (IsOneOf(task.status, {DownloadStatus::Queued, DownloadStatus::Paused})) {
      if (!folderExists) {
        ZeroProgress(task);
      } else {
        ListProgressOnDisk(task);
      }
    }
  }
  store->SaveAll(tasks);
}

void DownloadService::OnTaskUpdate(const DownloadTask& report) {
  std::lock_guard<std::mutex> lock(mutex);
  DownloadTask* current = FindTask(report.id);
  // A report for a download deleted meanwhile is dropped: it must not come back.
  if (current == nullptr) return;

  // The URL is the service's to change: a run queued before the download got
  // a new one still reports the old one.
  DownloadTask update = report;
  if (update.url != current->url) {
    update.url = current->url;
    update.urlRefreshed = current->urlRefreshed;
  }
  // So is the cookie: a new URL elsewhere drops it, and no report brings it back.
  update.cookie = current->cookie;
  update.signedIn = current->signedIn;

  // An earlier run of the id, stopped or still winding down, no longer speaks
  // for the download: the latest command queued a newer run.
  if (update.runSerial != current->runSerial) return;

  // The latest run's own reports can still cross a pause or resume command.
  const bool inPause = pendingPauseIds.count(update.id) > 0;
  const bool inResume = pendingResumeIds.count(update.id) > 0;
  const bool progressCrossingPause =
      inPause && IsOneOf(update.status, {DownloadStatus::Queued, DownloadStatus::Starting,
                                         DownloadStatus::Downloading, DownloadStatus::Verifying});
  const bool pauseCrossingResume = inResume && update.status == DownloadStatus::Paused;
  if (progressCrossingPause || pauseCrossingResume) return;
  // Nor does its progress take back a cancel: the run ends Cancelled (or, when
  // the cancel came too late, Completed or Failed), and until then a saved
  // progress status would bring the download back after a crash. A run that
  // was already ending paused left the cancel to its command, which removed
  // the files its Paused report still counts.
  const bool progressCrossingCancel =
      current->status == DownloadStatus::Cancelled &&
      IsOneOf(update.status, {DownloadStatus::Queued, DownloadStatus::Starting,
                              DownloadStatus::Downloading, DownloadStatus::Verifying,
                              DownloadStatus::Paused});
  if (progressCrossingCancel) return;

  // Reports of the finishing phase change only what the store does not keep;
  // a save for each would stall the run on the disk for nothing. A status
  // change is saved before it can be listed; progress within a status is
  // staged and written with other downloads' at least every second, so a
  // killed service loses at most that much progress.
  const bool storedFieldsChange = !SameStoredFields(*current, update);
  const bool statusChange = current->status != update.status;
  const bool moved = current->outputPath != update.outputPath || current->fileName != update.fileName;
  if (moved) listedTargets.Remove(*current);
  *current = update;
  if (moved) listedTargets.Add(*current);
  // The end of a run is committed at once too: a pause brings its last
  // progress, which a crash right after it must not take back.
  const bool runEnded = IsOneOf(update.status, {DownloadStatus::Paused, DownloadStatus::Completed,
                                                DownloadStatus::Failed, DownloadStatus::Cancelled});
  if (statusChange || (runEnded && storedFieldsChange)) {
    store->Save(*current);
  } else if (storedFieldsChange) {
    store->SaveProgress(*current);
  }
  if (IsOneOf(update.status, {DownloadStatus::Paused, DownloadStatus::Completed,
                              DownloadStatus::Failed, DownloadStatus::Cancelled})) {
    pendingPauseIds.erase(update.id);
  }
  if (IsOneOf(update.status,
              {DownloadStatus::Queued, DownloadStatus::Starting, DownloadStatus::Downloading})) {
    pendingResumeIds.erase(update.id);
  }
}

DownloadTask* DownloadService::FindTask(const std::string& id) {
  for (auto& task : tasks) {
    if (task.id == id) return &task;
  }
  return nullptr;
}

}  // namespace vn

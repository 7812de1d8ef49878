#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "apps/service/core/listed_targets.h"
#include "apps/service/task/download_task.h"
#include "apps/service/engine/start_mode.h"

namespace vn {

class DownloadStore;
class PipeServer;
class DownloadEngine;
class TorrentEngine;
struct TaskUpdateSink;

// The service's top-level object: owns every component and the in-memory list
// of HTTP downloads, wires them together at start, and serves the command
// protocol. Threads: the main thread (Run, destructor), the pipe server thread
// (HandleRequest and every command, one at a time), and the engine's run
// threads (OnTaskUpdate, concurrently).
class DownloadService {
 public:
  DownloadService();
  ~DownloadService();

  DownloadService(const DownloadService&) = delete;
  DownloadService& operator=(const DownloadService&) = delete;

  // Starts every component, then waits until a stop signal arrives. Throws when
  // the start fails.
  void Run();

  // Starts every component without waiting (Run's first step); for programs
  // that drive HandleRequest themselves. Main thread, once. Throws when the
  // start fails.
  void Start();

  // Merges an engine report into the list and the store. Any engine thread.
  void OnTaskUpdate(const DownloadTask& update);

  // The name a run whose task has nameFromServerAllowed goes on with, given
  // the probe's Content-Disposition: the server's name, made safe and free,
  // stored as the task's name. Takes `mutex`. Any engine thread.
  std::string SettleFileName(const DownloadTask& run, const std::string& contentDisposition);

  // Answers one request text with one response text; never throws for
  // standard exceptions. Pipe server thread.
  std::string HandleRequest(const std::string& request);

 private:
  // Opens the store and reads the list; a damaged file fails with its name
  // and what to do about it.
  void LoadStoredTasks(const std::filesystem::path& databasePath);
  void ReconcileStoredTasks();

  std::string HandleListDownloads();
  std::string HandleEnqueueDownload(const std::string& request);
  std::string HandleEnqueueTorrent(const std::string& request);
  std::string HandlePauseDownload(const std::string& request);
  std::string HandleResumeDownload(const std::string& request);
  std::string HandleCancelDownload(const std::string& request);
  std::string HandleDeleteDownload(const std::string& request);
  std::string HandleRetryDownload(const std::string& request);
  std::string HandleSetSpeedLimiter(const std::string& request);
  std::string HandleUpdateDownloadUrl(const std::string& request);
  std::string HandleSetGlobalSpeedLimit(const std::string& request);
  std::string HandleGetDownloadChecksum(const std::string& request);

  // Answers a torrent id for the four routed commands.
  std::string RouteTorrentCommand(const std::string& type, const std::string& id, bool deleteFile);

  // A fresh kDownloadIdPrefix id that no listed task has. Caller holds `mutex`.
  std::string NewDownloadId();

  // Makes the listed task's next run its latest (reports of earlier runs are
  // ignored from now on) and returns the copy to queue. Caller holds `mutex`.
  DownloadTask NextRun(DownloadTask& task);

  // Queues run (from NextRun, or a new download) without holding `mutex`.
  // When the engine cannot start it (out of threads), the run it was to
  // follow counts again; with none left, the download rests as Failed with
  // the engine's kRunNotStarted, so the command is still answered.
  void QueueRun(const DownloadTask& run, StartMode mode);

  // The listed task with id, or null. Caller holds `mutex`.
  DownloadTask* FindTask(const std::string& id);

  std::atomic<bool> running{false};
  std::mutex mutex;
  std::vector<DownloadTask> tasks;                   // guarded by mutex
  ListedTargets listedTargets;                       // of tasks; guarded by mutex
  std::unordered_set<std::string> pendingPauseIds;   // guarded by mutex
  std::unordered_set<std::string> pendingResumeIds;  // guarded by mutex
  std::int64_t lastIdMillis = 0;                     // guarded by mutex
  std::shared_ptr<TaskUpdateSink> updateSink;        // outlives us in detached runs
  std::unique_ptr<DownloadStore> store;
  std::unique_ptr<PipeServer> pipeServer;
  std::unique_ptr<DownloadEngine> engine;
  std::unique_ptr<TorrentEngine> torrentEngine;
};

}  // namespace vn

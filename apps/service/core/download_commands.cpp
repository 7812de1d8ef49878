// Commands that create and steer HTTP downloads. Each handler reads all its
// arguments before it changes anything, so a wrongly typed argument leaves the
// list and the store untouched. `Queue`, delete's `Cancel` and file removals run
// after the service mutex is released.
#include <chrono>
#include <system_error>
#include <thread>

#include "apps/protocol/command_names.h"
#include "apps/protocol/download_ids.h"
#include "apps/protocol/error_texts.h"
#include "apps/service/core/download_service.h"
#include "apps/service/core/enqueue_arguments.h"
#include "apps/service/core/free_file_name.h"
#include "apps/service/core/hidden_characters.h"
#include "apps/service/core/server_file_name.h"
#include "apps/service/core/task_json.h"
#include "apps/service/core/url_file_name.h"
#include "apps/service/engine/download_engine.h"
#include "apps/service/engine/partial_files.h"
#include "apps/service/store/download_store.h"
#include "apps/service/torrent/torrent_engine.h"
#include "platform/http.h"

namespace vn {
namespace {

// How long a delete waits for the download's run to end before it removes the
// files anyway (a run ends within one chunk or one join step of a cancel).
constexpr auto kDeleteWaitForRun = std::chrono::seconds(10);

std::string TaskNotFound() { return ErrorAnswer(error_text::kTaskNotFound); }
std::string MissingId() { return ErrorAnswer(error_text::kMissingId); }
std::string DownloadIsCompleted() { return ErrorAnswer(error_text::kDownloadIsCompleted); }

std::int64_t NowMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

std::string DownloadService::NewDownloadId() {
  // Two enqueues in one millisecond take the next free millisecond value.
  std::int64_t millis = std::max(NowMillis(), lastIdMillis + 1);
  while (FindTask(kDownloadIdPrefix + std::to_string(millis)) != nullptr) ++millis;
  lastIdMillis = millis;
  return kDownloadIdPrefix + std::to_string(millis);
}

DownloadTask DownloadService::NextRun(DownloadTask& task) {
  ++task.runSerial;
  return task;
}

void DownloadService::QueueRun(const DownloadTask& run, StartMode mode) {
  try {
    engine->Queue(run, mode);
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> lock(mutex);
    DownloadTask* task = FindTask(run.id);
    if (task == nullptr || task->runSerial != run.runSerial) return;
    if (engine->IsRunning(run.id)) {
      // The run this one was to follow is the id's latest again (the engine
      // put it back), so its reports count again.
      --task->runSerial;
      return;
    }
    task->status = DownloadStatus::Failed;
    task->failureReason = kRunNotStarted;
    task->speedBytesPerSecond = 0;
    store->Save(*task);
  }
}

std::string DownloadService::HandleEnqueueDownload(const std::string& request) {
  const auto arguments = nlohmann::json::parse(request);
  const auto url = arguments.value(member::kUrl, std::string());
  auto outputPath = arguments.value(member::kOutputPath, std::string());
  auto fileName = arguments.value(member::kFileName, std::string());
  const auto referrer = arguments.value(member::kReferrer, std::string());
  const auto userAgent = arguments.value(member::kUserAgent, std::string());
  const auto checksumAlgorithm = arguments.value(member::kChecksumAlgorithm, std::string());
  const auto expectedChecksum = arguments.value(member::kExpectedChecksum, std::string());
  const auto connectionCount = arguments.value(member::kConnectionCount, std::int32_t{8});
  const auto useSpeedLimiter = arguments.value(member::kUseSpeedLimiter, false);
  const auto maxSpeed = arguments.value(member::kMaxSpeedBytesPerSecond, std::int64_t{0});
  const auto cookie = arguments.value(member::kCookie, std::string());

  if (url.empty()) return ErrorAnswer(error_text::kMissingUrl);
  // A zero byte included: a page that names an address no run can fetch
  // would otherwise fill the list with downloads that can only fail.
  if (!IsRequestableUrl(url)) return ErrorAnswer(platform::kInvalidDownloadUrl);
  if (HasZeroByte(outputPath)) return ErrorAnswer(kInvalidFileName);
  outputPath = ResolveOutputFolder(outputPath);
  // A URL such as ".../get?id=42" names no file; the server may, once probed.
  bool nameFromServerAllowed = false;
  if (fileName.empty()) {
    fileName = FileNameFromUrl(url);
    nameFromServerAllowed = fileName == kDefaultFileName || !HasFileExtension(fileName);
  } else if (!IsSafeFileName(fileName) || HasHiddenCharacter(fileName)) {
    return ErrorAnswer(kInvalidFileName);
  } else if (!FileNameFits(fileName)) {
    return ErrorAnswer(kFileNameTooLong);
  }
  // Refused now rather than after the whole file has been fetched.
  if (!IsWellFormedChecksum(expectedChecksum)) return ErrorAnswer(kInvalidChecksum);
  if (!IsSupportedChecksumAlgorithm(checksumAlgorithm)) {
    return ErrorAnswer(error_text::kUnsupportedChecksumAlgorithm);
  }

  DownloadTask task;
  task.url = url;
  task.outputPath = outputPath;
  task.fileName = fileName;
  task.referrer = referrer;
  task.userAgent = userAgent;
  task.checksumAlgorithm = checksumAlgorithm;
  task.expectedChecksum = expectedChecksum;
  task.connectionCount = connectionCount;
  task.useSpeedLimiter = useSpeedLimiter;
  task.maxSpeedBytesPerSecond = maxSpeed;
  task.nameFromServerAllowed = nameFromServerAllowed;
  task.cookie = cookie;
  task.signedIn = !cookie.empty();
  task.status = DownloadStatus::Queued;
  {
    std::lock_guard<std::mutex> lock(mutex);
    task.id = NewDownloadId();
    task.fileName = ChooseFreeFileName(task, listedTargets);
    // Stored first: a save that fails (a full disk) leaves no entry that the
    // next start would not know.
    store->Save(task);
    tasks.push_back(task);
    listedTargets.Add(task);
  }
  QueueRun(task, StartMode::Continue);
  if (useSpeedLimiter && maxSpeed > 0) engine->SetSpeedLimit(task.id, true, maxSpeed);
  return IdAnswer(task.id);
}

std::string DownloadService::HandlePauseDownload(const std::string& request) {
  const auto id = nlohmann::json::parse(request).value(member::kId, std::string());
  if (id.empty()) return MissingId();
  if (IsTorrentId(id)) return RouteTorrentCommand(command::kPauseDownload, id, false);

  std::lock_guard<std::mutex> lock(mutex);
  DownloadTask* task = FindTask(id);
  if (task == nullptr) return TaskNotFound();
  // A paused download is one to finish or clean up, never a verified file.
  if (task->status == DownloadStatus::Completed) return DownloadIsCompleted();
  pendingResumeIds.erase(id);
  pendingPauseIds.insert(id);
  engine->Pause(id);
  task->status = DownloadStatus::Paused;
  task->speedBytesPerSecond = 0;
  task->failureReason.clear();
  store->Save(*task);
  return OkAnswer(true);
}

std::string DownloadService::HandleResumeDownload(const std::string& request) {
  const auto id = nlohmann::json::parse(request).value(member::kId, std::string());
  if (id.empty()) return MissingId();
  if (IsTorrentId(id)) return RouteTorrentCommand(command::kResumeDownload, id, false);

  DownloadTask copy;
  {
    std::lock_guard<std::mutex> lock(mutex);
    DownloadTask* task = FindTask(id);
    if (task == nullptr) return TaskNotFound();
    // A new run would fetch the file again over the verified one.
    if (task->status == DownloadStatus::Completed) return DownloadIsCompleted();
    pendingPauseIds.erase(id);
    pendingResumeIds.insert(id);
    // A run that is already ending for its stop cannot be revived.
    if (task->status != DownloadStatus::Paused && engine->Resume(id)) {
      task->status = DownloadStatus::Downloading;
      task->failureReason.clear();
      store->Save(*task);
      return OkAnswer(true);
    }
    task->status = DownloadStatus::Starting;
    task->speedBytesPerSecond = 0;
    task->failureReason.clear();
    store->Save(*task);
    copy = NextRun(*task);
  }
  QueueRun(copy, StartMode::Continue);
  return OkAnswer(true);
}

std::string DownloadService::HandleCancelDownload(const std::string& request) {
  const auto id = nlohmann::json::parse(request).value(member::kId, std::string());
  if (id.empty()) return MissingId();
  if (IsTorrentId(id)) return RouteTorrentCommand(command::kCancelDownload, id, false);

  DownloadTask copy;
  {
    std::lock_guard<std::mutex> lock(mutex);
    DownloadTask* task = FindTask(id);
    if (task == nullptr) return TaskNotFound();
    // The run's Completed report is applied under this lock: a cancel that
    // comes after it finds the verified file listed and leaves it alone, one
    // that comes before it is settled by the run (see OnTaskUpdate).
    if (task->status == DownloadStatus::Completed) return DownloadIsCompleted();
    // A run ends its cancel by removing the files; with none to do it (no
    // run, or one already ending paused) the cancel does the same here. The
    // run's reports are handled under this lock, and none of them takes the
    // cancel back (see OnTaskUpdate).
    const bool runEndsIt = engine->Cancel(id);
    // A Paused report crossing the cancel is dropped, so it cannot close a
    // pending pause; left open, it would drop the next run's progress.
    pendingPauseIds.erase(id);
    pendingResumeIds.erase(id);
    task->status = DownloadStatus::Cancelled;
    task->failureReason.clear();
    ZeroProgress(*task);
    store->Save(*task);
    if (runEndsIt) return OkAnswer(true);
    copy = *task;
  }
  RemoveDownloadFiles(copy, true);
  return OkAnswer(true);
}

std::string DownloadService::HandleDeleteDownload(const std::string& request) {
  const auto arguments = nlohmann::json::parse(request);
  const auto id = arguments.value(member::kId, std::string());
  const auto deleteFile = arguments.value(member::kDeleteFile, false);
  if (id.empty()) return MissingId();
  if (IsTorrentId(id)) return RouteTorrentCommand(command::kDeleteDownload, id, deleteFile);

  DownloadTask copy;
  {
    std::lock_guard<std::mutex> lock(mutex);
    DownloadTask* task = FindTask(id);
    if (task == nullptr) return TaskNotFound();
    copy = *task;
    listedTargets.Remove(copy);
    tasks.erase(tasks.begin() + (task - tasks.data()));
    store->Delete(id);
  }
  engine->Cancel(id);
  // A run that is joining places the final file before it sees the cancel;
  // its files go once it has ended, or a crash in between would orphan them
  // with no record left to clean them up.
  const auto deadline = std::chrono::steady_clock::now() + kDeleteWaitForRun;
  while (engine->IsRunning(id) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  RemoveDownloadFiles(copy, deleteFile);
  return OkAnswer(true);
}

std::string DownloadService::HandleRetryDownload(const std::string& request) {
  const auto id = nlohmann::json::parse(request).value(member::kId, std::string());
  if (id.empty()) return MissingId();

  DownloadTask copy;
  {
    std::lock_guard<std::mutex> lock(mutex);
    DownloadTask* task = FindTask(id);
    if (task == nullptr) return TaskNotFound();
    // A live run must not go on writing what the new run starts over; the new
    // run removes the files once the stopped one has ended.
    engine->Cancel(id);
    task->totalBytes = 0;
    task->downloadedBytes = 0;
    task->speedBytesPerSecond = 0;
    task->segments.clear();
    task->failureReason.clear();
    task->status = DownloadStatus::Queued;
    store->Save(*task);
    copy = NextRun(*task);
  }
  QueueRun(copy, StartMode::FromZero);
  return OkAnswer(true);
}

std::string DownloadService::HandleSetSpeedLimiter(const std::string& request) {
  const auto arguments = nlohmann::json::parse(request);
  const auto id = arguments.value(member::kId, std::string());
  const auto enabled = arguments.value(member::kEnabled, false);
  const auto maxSpeed = arguments.value(member::kMaxSpeedBytesPerSecond, std::int64_t{0});
  if (id.empty()) return MissingId();

  std::lock_guard<std::mutex> lock(mutex);
  DownloadTask* task = FindTask(id);
  if (task == nullptr) return TaskNotFound();
  const bool on = enabled && maxSpeed > 0;
  task->useSpeedLimiter = on;
  task->maxSpeedBytesPerSecond = on ? maxSpeed : 0;
  store->Save(*task);
  engine->SetSpeedLimit(id, on, task->maxSpeedBytesPerSecond);
  return OkAnswer(true);
}

}  // namespace vn

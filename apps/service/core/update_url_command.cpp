// update_download_url: a new address for an HTTP download that is not
// running, typically a signed link that expired. The progress is not touched
// here; the next run's probe of the new URL decides whether it still holds.
#include "apps/protocol/answers.h"
#include "apps/protocol/command_names.h"
#include "apps/protocol/error_texts.h"
#include "apps/protocol/download_ids.h"
#include "apps/service/core/download_service.h"
#include "apps/service/core/enqueue_arguments.h"
#include "apps/service/core/task_json.h"
#include "apps/service/engine/partial_files.h"
#include "apps/service/store/download_store.h"
#include "platform/http.h"

namespace vn {
namespace {

// Whether a run of the download is queued, transferring or finishing. A
// stopped run may still be winding down; its reports keep the new URL (see
// OnTaskUpdate) and the next run waits for it to end.
bool IsRunning(DownloadStatus status) {
  return status == DownloadStatus::Queued || status == DownloadStatus::Starting ||
         status == DownloadStatus::Downloading || status == DownloadStatus::Verifying;
}

// False also when either URL cannot be requested (an old stored one may not).
bool SameOrigin(const std::string& a, const std::string& b) {
  try {
    return platform::SameOrigin(platform::MakeRequestTarget(a, "", ""),
                                platform::MakeRequestTarget(b, "", ""));
  } catch (const std::runtime_error&) {
    return false;
  }
}

}  // namespace

std::string DownloadService::HandleUpdateDownloadUrl(const std::string& request) {
  const auto arguments = nlohmann::json::parse(request);
  const auto id = arguments.value(member::kId, std::string());
  const auto url = arguments.value(member::kUrl, std::string());
  if (id.empty()) return ErrorAnswer(error_text::kMissingId);
  if (IsTorrentId(id)) return ErrorAnswer(error_text::kTorrentHasNoUrl);

  std::lock_guard<std::mutex> lock(mutex);
  DownloadTask* task = FindTask(id);
  if (task == nullptr) return ErrorAnswer(error_text::kTaskNotFound);
  if (url.empty()) return ErrorAnswer(error_text::kMissingUrl);
  if (!IsRequestableUrl(url)) return ErrorAnswer(platform::kInvalidDownloadUrl);
  if (IsRunning(task->status)) return ErrorAnswer(error_text::kDownloadIsRunning);
  // The next run would fetch the new address over the verified file.
  if (task->status == DownloadStatus::Completed) {
    return ErrorAnswer(error_text::kDownloadIsCompleted);
  }
  // The browser's cookies belong to the origin they were captured for.
  if (!SameOrigin(task->url, url)) task->cookie.clear();
  task->url = url;
  task->urlRefreshed = true;
  store->Save(*task);
  return OkAnswer(true);
}

}  // namespace vn

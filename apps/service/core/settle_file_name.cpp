// The server's name for a download whose URL named none, taken after the
// first probe. Under the service mutex, like a name chosen at enqueue, so that
// a concurrent enqueue and this choice can never take the same free name.
#include "apps/service/core/download_service.h"
#include "apps/service/core/free_file_name.h"
#include "apps/service/core/server_file_name.h"
#include "apps/service/store/download_store.h"

namespace vn {

std::string DownloadService::SettleFileName(const DownloadTask& run,
                                            const std::string& contentDisposition) {
  const std::string serverName = FileNameFromContentDisposition(contentDisposition);
  std::lock_guard<std::mutex> lock(mutex);
  DownloadTask* task = FindTask(run.id);
  // A deleted download or a superseded run: its name is not this run's to change.
  if (task == nullptr || task->runSerial != run.runSerial || !task->nameFromServerAllowed) {
    return run.fileName;
  }
  task->nameFromServerAllowed = false;
  if (serverName.empty() || serverName == task->fileName) return task->fileName;

  DownloadTask candidate = *task;
  candidate.fileName = serverName;
  // The download's own targets are not in the way of its new name.
  listedTargets.Remove(*task);
  task->fileName = ChooseFreeFileName(candidate, listedTargets);
  listedTargets.Add(*task);
  store->Save(*task);
  return task->fileName;
}

}  // namespace vn

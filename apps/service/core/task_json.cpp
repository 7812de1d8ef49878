#include "apps/service/core/task_json.h"

#include "apps/protocol/command_names.h"

namespace vn {

nlohmann::json TaskToJson(const DownloadTask& task) {
  nlohmann::json segments = nlohmann::json::array();
  int index = 1;
  for (const auto& segment : task.segments) {
    segments.push_back({{member::kIndex, index++},
                        {member::kStart, segment.start},
                        {member::kEnd, segment.end},
                        {member::kDownloadedBytes, segment.downloadedBytes}});
  }
  return {
      {member::kId, task.id},
      {member::kUrl, task.url},
      {member::kFileName, task.fileName},
      {member::kOutputPath, task.outputPath},
      {member::kStatus, StatusText(task.status)},
      {member::kDownloadedBytes, task.downloadedBytes},
      {member::kTotalBytes, task.totalBytes},
      {member::kSpeedBytesPerSecond, task.speedBytesPerSecond},
      {member::kConnectionCount, task.connectionCount},
      {member::kFailureReason, task.failureReason},
      {member::kIsTorrent, task.isTorrent},
      {member::kFinalizeDone, task.finalizeDone},
      {member::kFinalizeTotal, task.finalizeTotal},
      {member::kSegments, std::move(segments)},
  };
}

}  // namespace vn

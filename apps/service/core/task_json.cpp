#include "apps/service/core/task_json.h"

namespace vn {

nlohmann::json TaskToJson(const DownloadTask& task) {
  nlohmann::json segments = nlohmann::json::array();
  int index = 1;
  for (const auto& segment : task.segments) {
    segments.push_back({{"index", index++},
                        {"start", segment.start},
                        {"end", segment.end},
                        {"downloadedBytes", segment.downloadedBytes}});
  }
  return {
      {"id", task.id},
      {"url", task.url},
      {"fileName", task.fileName},
      {"outputPath", task.outputPath},
      {"status", StatusText(task.status)},
      {"downloadedBytes", task.downloadedBytes},
      {"totalBytes", task.totalBytes},
      {"speedBytesPerSecond", task.speedBytesPerSecond},
      {"connectionCount", task.connectionCount},
      {"failureReason", task.failureReason},
      {"isTorrent", task.isTorrent},
      {"finalizeDone", task.finalizeDone},
      {"finalizeTotal", task.finalizeTotal},
      {"segments", std::move(segments)},
  };
}

}  // namespace vn

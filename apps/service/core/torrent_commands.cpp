// Torrents live only in the torrent engine: these handlers never touch the
// task list, the store or the HTTP engine, and take no service lock.
#include "apps/protocol/command_names.h"
#include "apps/protocol/error_texts.h"
#include "apps/service/core/download_service.h"
#include "apps/service/core/enqueue_arguments.h"
#include "apps/service/core/task_json.h"
#include "apps/service/engine/partial_files.h"
#include "apps/service/torrent/torrent_engine.h"

namespace vn {

std::string DownloadService::HandleEnqueueTorrent(const std::string& request) {
  if (!torrentEngine) return ErrorAnswer(error_text::kTorrentEngineUnavailable);
  const auto arguments = nlohmann::json::parse(request);
  const auto magnet = arguments.value(member::kMagnet, std::string());
  const auto torrentFilePath = arguments.value(member::kTorrentFilePath, std::string());
  auto outputPath = arguments.value(member::kOutputPath, std::string());
  if (magnet.empty() && torrentFilePath.empty()) {
    return ErrorAnswer(error_text::kMissingTorrentSource);
  }
  // Below this point a zero byte would cut the text short: the engine would add
  // another torrent, or write into another folder, than the one asked for.
  if (HasZeroByte(magnet)) {
    return ErrorAnswer(std::string(error_text::kInvalidMagnet) + "the link holds a zero byte");
  }
  if (magnet.empty() && HasZeroByte(torrentFilePath)) {
    return ErrorAnswer(std::string(error_text::kUnreadableTorrentFile) +
                       "the path holds a zero byte");
  }
  if (HasZeroByte(outputPath)) return ErrorAnswer(kInvalidFileName);
  outputPath = ResolveOutputFolder(outputPath);

  std::string error;
  const auto id = !magnet.empty()
                      ? torrentEngine->AddFromMagnet(magnet, outputPath, error)
                      : torrentEngine->AddFromTorrentFile(torrentFilePath, outputPath, error);
  if (id.empty()) return ErrorAnswer(error.empty() ? error_text::kCouldNotAddTorrent : error);
  return IdAnswer(id);
}

std::string DownloadService::RouteTorrentCommand(const std::string& type, const std::string& id,
                                                 bool deleteFile) {
  if (!torrentEngine) return OkAnswer(false);
  bool done = false;
  if (type == command::kResumeDownload) {
    done = torrentEngine->Resume(id);
  } else if (type == command::kDeleteDownload) {
    done = torrentEngine->Remove(id, deleteFile);
  } else {
    // pause_download, and cancel_download: a cancelled torrent is paused, not removed.
    done = torrentEngine->Pause(id);
  }
  return OkAnswer(done);
}

}  // namespace vn

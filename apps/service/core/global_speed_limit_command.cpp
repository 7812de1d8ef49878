// One limit on all downloads together: the HTTP engine's shared budget and the
// torrent session's download rate, set to the same figure. Like the
// per-download limits it lives in memory only and does not outlive the service.
#include <nlohmann/json.hpp>

#include "apps/protocol/answers.h"
#include "apps/protocol/command_names.h"
#include "apps/protocol/error_texts.h"
#include "apps/service/core/download_service.h"
#include "apps/service/engine/download_engine.h"
#include "apps/service/torrent/torrent_engine.h"

namespace vn {

std::string DownloadService::HandleSetGlobalSpeedLimit(const std::string& request) {
  const auto arguments = nlohmann::json::parse(request);
  const auto enabled = arguments.value(member::kEnabled, false);
  const auto maxSpeed = arguments.value(member::kMaxSpeedBytesPerSecond, std::int64_t{0});
  const bool on = enabled && maxSpeed > 0;
  const std::int64_t limit = on ? maxSpeed : 0;

  // The torrent session first: when it refuses, nothing has changed.
  if (!torrentEngine) return ErrorAnswer(error_text::kTorrentEngineUnavailable);
  std::string error;
  if (!torrentEngine->SetDownloadRateLimit(limit, error)) return ErrorAnswer(error);
  engine->SetGlobalSpeedLimit(on, limit);
  return OkAnswer(true);
}

}  // namespace vn

// One limit on all downloads together: the HTTP engine's shared budget and the
// torrent session's download rate, set to the same figure. Like the
// per-download limits it lives in memory only and does not outlive the service.
#include <nlohmann/json.hpp>

#include "apps/protocol/answers.h"
#include "apps/protocol/command_names.h"
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

  engine->SetGlobalSpeedLimit(on, limit);
  // A torrent engine that is not running has no session to limit; the HTTP
  // downloads are limited all the same.
  if (torrentEngine) {
    std::string ignored;
    torrentEngine->SetDownloadRateLimit(limit, ignored);
  }
  return OkAnswer(true);
}

}  // namespace vn

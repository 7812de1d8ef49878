// One limit on all downloads together: the HTTP engine's shared budget and the
// torrent session's download rate, set to the same figure. Like the
// per-download limits it lives in memory only and does not outlive the service.
#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>

#include "apps/protocol/answers.h"
#include "apps/protocol/command_names.h"
#include "apps/protocol/error_texts.h"
#include "apps/service/core/download_service.h"
#include "apps/service/engine/download_engine.h"
#include "apps/service/torrent/torrent_engine.h"

namespace vn {
namespace {

// The largest limit a client written in JavaScript can state exactly.
constexpr std::int64_t kMaxSpeedLimit = std::int64_t{1} << 53;

// The limit a request asks for: 0 to lift it, else a whole number of bytes a
// second from 1 to kMaxSpeedLimit. Nothing for a request that states neither
// plainly (no `enabled`, a fraction, a number beyond any link), which would
// otherwise lift a limit or set one of about nothing.
std::optional<std::int64_t> RequestedLimit(const nlohmann::json& arguments) {
  const auto enabled = arguments.find(member::kEnabled);
  if (enabled == arguments.end() || !enabled->is_boolean()) return std::nullopt;
  if (!enabled->get<bool>()) return 0;
  const auto maximum = arguments.find(member::kMaxSpeedBytesPerSecond);
  if (maximum == arguments.end()) return std::nullopt;
  if (maximum->is_number_unsigned()) {
    const auto value = maximum->get<std::uint64_t>();
    if (value < 1 || value > static_cast<std::uint64_t>(kMaxSpeedLimit)) return std::nullopt;
    return static_cast<std::int64_t>(value);
  }
  if (maximum->is_number_integer()) {
    const auto value = maximum->get<std::int64_t>();
    if (value < 1 || value > kMaxSpeedLimit) return std::nullopt;
    return value;
  }
  if (maximum->is_number_float()) {
    const double value = maximum->get<double>();
    if (!(value >= 1) || value > static_cast<double>(kMaxSpeedLimit) || std::floor(value) != value) {
      return std::nullopt;
    }
    return static_cast<std::int64_t>(value);
  }
  return std::nullopt;
}

}  // namespace

std::string DownloadService::HandleSetGlobalSpeedLimit(const std::string& request) {
  const auto limit = RequestedLimit(nlohmann::json::parse(request));
  if (!limit) return ErrorAnswer(error_text::kInvalidSpeedLimit);

  engine->SetGlobalSpeedLimit(*limit > 0, *limit);
  // A torrent engine that is not running has no session to limit; the HTTP
  // downloads are limited all the same.
  if (torrentEngine) {
    std::string ignored;
    torrentEngine->SetDownloadRateLimit(*limit, ignored);
  }
  return OkAnswer(true);
}

}  // namespace vn

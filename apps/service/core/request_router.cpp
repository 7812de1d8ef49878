// The command protocol: one JSON object per request, `type` naming the command,
// the other members its arguments. Answers are compact JSON objects with sorted
// members: {"ok":true,...} or {"error":text,"ok":false}.
#include <array>
#include <exception>
#include <string_view>

#include "apps/protocol/command_names.h"
#include "apps/protocol/error_texts.h"
#include "apps/service/core/download_service.h"
#include "apps/service/core/task_json.h"
#include "apps/service/torrent/torrent_engine.h"

namespace vn {

std::string DownloadService::HandleRequest(const std::string& request) {
  using Handler = std::string (*)(DownloadService&, const std::string&);
  struct Command {
    std::string_view type;
    Handler handler;
  };
  // Written once: dispatch order is this table's order.
  static const std::array<Command, 12> kCommands = {{
      {command::kListDownloads,
       [](DownloadService& s, const std::string&) { return s.HandleListDownloads(); }},
      {command::kEnqueueDownload,
       [](DownloadService& s, const std::string& r) { return s.HandleEnqueueDownload(r); }},
      {command::kEnqueueTorrent,
       [](DownloadService& s, const std::string& r) { return s.HandleEnqueueTorrent(r); }},
      {command::kPauseDownload,
       [](DownloadService& s, const std::string& r) { return s.HandlePauseDownload(r); }},
      {command::kResumeDownload,
       [](DownloadService& s, const std::string& r) { return s.HandleResumeDownload(r); }},
      {command::kCancelDownload,
       [](DownloadService& s, const std::string& r) { return s.HandleCancelDownload(r); }},
      {command::kDeleteDownload,
       [](DownloadService& s, const std::string& r) { return s.HandleDeleteDownload(r); }},
      {command::kRetryDownload,
       [](DownloadService& s, const std::string& r) { return s.HandleRetryDownload(r); }},
      {command::kSetSpeedLimiter,
       [](DownloadService& s, const std::string& r) { return s.HandleSetSpeedLimiter(r); }},
      {command::kUpdateDownloadUrl,
       [](DownloadService& s, const std::string& r) { return s.HandleUpdateDownloadUrl(r); }},
      {command::kSetGlobalSpeedLimit,
       [](DownloadService& s, const std::string& r) { return s.HandleSetGlobalSpeedLimit(r); }},
      {command::kGetDownloadChecksum,
       [](DownloadService& s, const std::string& r) { return s.HandleGetDownloadChecksum(r); }},
  }};

  try {
    const auto parsed = nlohmann::json::parse(request);
    const auto type = parsed.value(member::kType, std::string());
    for (const auto& command : kCommands) {
      if (command.type == type) return command.handler(*this, request);
    }
    return ErrorAnswer(error_text::kUnknownRequestType);
  } catch (const std::exception& error) {
    return ErrorAnswer(error_text::kInvalidJsonRequest + std::string(error.what()));
  }
}

std::string DownloadService::HandleListDownloads() {
  std::vector<DownloadTask> torrents;
  if (torrentEngine) torrents = torrentEngine->Snapshot();
  // Written under the lock rather than from a copy: at ten thousand downloads
  // the copy costs about as long and holds megabytes more.
  std::lock_guard<std::mutex> lock(mutex);
  return ListDownloadsAnswer(tasks, torrents);
}

}  // namespace vn

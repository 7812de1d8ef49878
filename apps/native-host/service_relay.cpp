#include "apps/native-host/service_relay.h"

#include <algorithm>

#include "apps/native-host/capture_router.h"
#include "apps/native-host/newest_downloads.h"
#include "apps/protocol/answers.h"
#include "apps/protocol/command_names.h"
#include "apps/protocol/error_texts.h"
#include "apps/protocol/json_text.h"
#include "platform/pipe.h"

namespace vn {
namespace {

constexpr const char* kRelayedCommands[] = {command::kListDownloads, command::kPauseDownload,
                                            command::kResumeDownload, command::kCancelDownload};

// The message's `limit`, held to 1..kMaxListLimit. Read as a double, which any
// JSON number converts to without overflow (1e300, 2^64 - 1); anything but a
// number or a boolean throws nlohmann's type_error.
std::size_t ListLimit(const nlohmann::json& message) {
  const auto found = message.find(member::kLimit);
  if (found == message.end()) return kDefaultListLimit;
  const double wanted = found->get<double>();
  return static_cast<std::size_t>(std::clamp(wanted, 1.0, static_cast<double>(kMaxListLimit)));
}

}  // namespace

bool IsRelayedCommand(const std::string& type) {
  return std::ranges::any_of(kRelayedCommands, [&type](const char* name) { return type == name; });
}

std::string RelayCommand(const std::string& type, const nlohmann::json& message) {
  if (type == command::kListDownloads) {
    const std::size_t limit = ListLimit(message);
    const auto answer = SendToService(CompactJson({{member::kType, type}}), kMaxServiceListBytes);
    return NewestDownloads(answer, limit);
  }
  const auto id = message.value(member::kId, std::string());
  const auto request = CompactJson({{member::kId, id}, {member::kType, type}});
  // No download has such an id; the service would drop an over-long request unanswered.
  if (id.find('\0') != std::string::npos || request.size() > platform::kMaxRequestBytes) {
    return ErrorAnswer(error_text::kTaskNotFound);
  }
  return SendToService(request);
}

}  // namespace vn

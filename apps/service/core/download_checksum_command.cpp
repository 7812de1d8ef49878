// The SHA-256 of a finished HTTP download, which the list does not carry: its
// entries keep their fixed members, so clients that read them see no change.
#include <nlohmann/json.hpp>

#include "apps/protocol/answers.h"
#include "apps/protocol/command_names.h"
#include "apps/protocol/error_texts.h"
#include "apps/protocol/json_text.h"
#include "apps/service/core/download_service.h"

namespace vn {

std::string DownloadService::HandleGetDownloadChecksum(const std::string& request) {
  const auto id = nlohmann::json::parse(request).value(member::kId, std::string());
  if (id.empty()) return ErrorAnswer(error_text::kMissingId);

  nlohmann::json answer;
  {
    std::lock_guard<std::mutex> lock(mutex);
    const DownloadTask* task = FindTask(id);
    if (task == nullptr) return ErrorAnswer(error_text::kTaskNotFound);
    answer = {{member::kOk, true},
              {member::kExpectedChecksum, task->expectedChecksum},
              {member::kActualChecksum, task->actualChecksum}};
  }
  return CompactJson(answer);
}

}  // namespace vn

#include "apps/protocol/answers.h"

#include "apps/protocol/command_names.h"
#include "apps/protocol/json_text.h"

namespace vn {

std::string OkAnswer(bool ok) { return CompactJson({{member::kOk, ok}}); }

std::string IdAnswer(const std::string& id) {
  return CompactJson({{member::kOk, true}, {member::kId, id}});
}

std::string ErrorAnswer(const std::string& text) {
  return CompactJson({{member::kOk, false}, {member::kError, text}});
}

std::string OkFirstErrorAnswer(std::string_view text) {
  return std::string(R"({"ok":false,"error":")") + std::string(text) + "\"}";
}

bool IsCaptureAccepted(std::string_view reply) {
  return reply.find(R"("ok":true)") != std::string_view::npos;
}

}  // namespace vn

#include "apps/native-host/native_host.h"

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "apps/native-host/capture_router.h"
#include "apps/native-host/handshake_registry.h"
#include "apps/native-host/json_nesting.h"
#include "apps/native-host/native_messaging.h"
#include "apps/native-host/service_relay.h"
#include "apps/protocol/answers.h"
#include "apps/protocol/json_text.h"

namespace vn {
namespace {

constexpr const char* kNestedTooDeeply = "Native message nested too deeply";

// Reads a string member; absent reads as "". Anything but a string throws
// nlohmann's type_error, which the loop answers like unparsable input.
std::string StringMember(const nlohmann::json& message, const char* name) {
  return message.value(name, std::string());
}

std::string Answer(const std::string& body) {
  // Refused before parsing, which would cost far more memory than the message.
  if (NestsDeeperThan(body, kMaxJsonNesting)) return ErrorAnswer(kNestedTooDeeply);
  try {
    // A non-object fails at the first member read, with the library's own message.
    const auto message = nlohmann::json::parse(body);
    const auto url = StringMember(message, "url");
    const auto filename = StringMember(message, "filename");
    const auto referrer = StringMember(message, "referrer");
    const auto type = StringMember(message, "type");

    if (type == "ping") {
      const auto browser = StringMember(message, "browser");
      const auto extensionId = StringMember(message, "extensionId");
      RecordBrowserHandshake(browser, extensionId);
      return CompactJson(
          {{"app", "Corbelle"}, {"browser", browser}, {"host", kNativeHostName}, {"ok", true}});
    }
    if (IsRelayedCommand(type)) return RelayCommand(type, message);
    return RouteCapture(message, url, filename, referrer);
  } catch (const nlohmann::json::exception& error) {
    return ErrorAnswer(std::string("Invalid native message JSON: ") + error.what());
  } catch (const std::exception& error) {
    // Whatever else goes wrong with one message must not cost the browser its host.
    return ErrorAnswer(std::string("Native host failed: ") + error.what());
  }
}

}  // namespace

int RunHost(std::FILE* input, std::FILE* output) {
  while (true) {
    std::string reply;
    try {
      const auto body = ReadNativeMessage(input);
      if (body.empty()) return 0;
      reply = Answer(body);
    } catch (const std::length_error& error) {
      reply = ErrorAnswer(error.what());
    }
    try {
      WriteNativeMessage(reply, output);
    } catch (const std::runtime_error&) {
      // The browser closed our output: nobody is left to answer.
      return 0;
    }
  }
}

}  // namespace vn

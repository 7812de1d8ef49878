#include "apps/varnel/service_client.h"

#include <utility>

#include "apps/protocol/command_names.h"
#include "apps/protocol/json_text.h"
#include "apps/varnel/cli_errors.h"
#include "platform/pipe.h"

namespace vn::cli {
namespace {

constexpr const char* kNotRunning =
    "the download service is not running; start it with `varnel service start`";

}  // namespace

ServiceClient::ServiceClient(std::string pipeName, std::chrono::milliseconds timeout,
                             std::size_t maxAnswerBytes)
    : pipeName(std::move(pipeName)), timeout(timeout), maxAnswerBytes(maxAnswerBytes) {}

std::string ServiceClient::Exchange(const nlohmann::json& request) const {
  const std::string text = CompactJson(request);
  if (text.size() > platform::kMaxRequestBytes) {
    throw UsageError("the request is " + std::to_string(text.size()) +
                     " bytes long; the service takes at most " +
                     std::to_string(platform::kMaxRequestBytes) +
                     " (shorten the URL, names or paths)");
  }
  // One byte more than allowed tells a full answer from a cut one.
  auto answer = platform::SendPipeRequest(pipeName, text, maxAnswerBytes + 1, timeout);
  if (auto start = std::exchange(onDemand, nullptr); !answer && start) {
    start();
    answer = platform::SendPipeRequest(pipeName, text, maxAnswerBytes + 1, timeout);
  }
  if (!answer) throw ServiceUnavailable(kNotRunning);
  if (answer->empty()) {
    throw ServiceUnavailable("the download service gave no answer (it closed the connection or " +
                             std::string("took longer than ") +
                             std::to_string(timeout.count() / 1000) + " seconds)");
  }
  if (answer->size() > maxAnswerBytes) {
    throw ServiceUnavailable("the download service's answer is larger than " +
                             std::to_string(maxAnswerBytes >> 20) + " MiB");
  }
  return *answer;
}

nlohmann::json ServiceClient::Call(const nlohmann::json& request,
                                   const std::string& refusedText) const {
  return CheckAnswer(Exchange(request), refusedText);
}

nlohmann::json ServiceClient::CheckAnswer(const std::string& answer,
                                          const std::string& refusedText) {
  nlohmann::json parsed = nlohmann::json::parse(answer, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object() || !parsed.contains(member::kOk) ||
      !parsed[member::kOk].is_boolean()) {
    throw ServiceUnavailable("the download service sent an answer that varnel cannot read");
  }
  if (!parsed[member::kOk].get<bool>()) {
    const auto error = parsed.find(member::kError);
    if (error != parsed.end() && error->is_string() && !error->get<std::string>().empty()) {
      throw CommandRefused(error->get<std::string>());
    }
    throw CommandRefused(refusedText);
  }
  return parsed;
}

}  // namespace vn::cli

#include "apps/native-host/capture_router.h"

#include <filesystem>
#include <regex>
#include <system_error>
#include <vector>

#include "apps/protocol/answers.h"
#include "apps/protocol/command_names.h"
#include "apps/protocol/error_texts.h"
#include "apps/protocol/json_text.h"
#include "apps/protocol/socket_names.h"
#include "platform/locations.h"
#include "platform/pipe.h"
#include "platform/process.h"

namespace vn {
namespace {

constexpr const char* kUiProgramName = "Varnel.UI";
constexpr const char* kUiDebugProgram = "apps/ui/Varnel.UI/bin/Debug/net8.0-windows/Varnel.UI";
constexpr const char* kUiReleaseProgram = "apps/ui/Varnel.UI/bin/Release/net8.0-windows/Varnel.UI";

// The program's file name (Varnel.UI.exe on Windows), with the separators the
// system uses (backslashes on Windows).
std::filesystem::path UiProgramFile(const char* relative) {
  return std::filesystem::path(std::string(relative) + platform::kProgramFileSuffix)
      .make_preferred();
}

bool Exists(const std::filesystem::path& path) {
  std::error_code ignored;
  return !path.empty() && std::filesystem::exists(path, ignored);
}

// What the service is asked to enqueue. The cookie and the user agent are
// written only when the browser gave them, so a capture without them asks
// exactly what it always asked.
struct EnqueueFields {
  std::string url;
  std::string filename;
  std::string referrer;
  std::string cookie;
  std::string userAgent;
};

std::string EnqueueRequest(const EnqueueFields& fields) {
  nlohmann::json request = {{member::kFileName, fields.filename},
                            {member::kOutputPath, platform::DefaultDownloadFolder().string()},
                            {member::kReferrer, fields.referrer},
                            {member::kType, command::kEnqueueDownload},
                            {member::kUrl, fields.url}};
  if (!fields.cookie.empty()) request[member::kCookie] = fields.cookie;
  if (!fields.userAgent.empty()) request[member::kUserAgent] = fields.userAgent;
  return CompactJson(request);
}

bool Fits(const EnqueueFields& fields) {
  return EnqueueRequest(fields).size() <= platform::kMaxRequestBytes;
}

// The browser's header values go into request headers: a zero byte or a line
// break would cut them short or add headers of the page's choosing, so such a
// value is not passed on at all.
std::string HeaderValueOrEmpty(const std::string& value) {
  return value.find_first_of(std::string("\0\r\n", 3)) == std::string::npos ? value
                                                                              : std::string();
}

}  // namespace

bool IsImageUrl(const std::string& url) {
  static const std::regex kImagePattern(R"(\.(png|jpg|jpeg|gif|webp|svg)(\?|#|$))",
                                        std::regex::ECMAScript | std::regex::icase);
  return std::regex_search(url, kImagePattern);
}

std::string RouteCapture(const nlohmann::json& message, const std::string& url,
                         const std::string& capturedFilename, const std::string& referrer) {
  if (url.empty()) return ErrorAnswer(error_text::kMissingUrl);
  const std::string filename =
      capturedFilename.find('\0') == std::string::npos ? capturedFilename : std::string();
  // Without a resolved source there is nothing the download manager could fetch.
  if (url.starts_with("blob:")) return ErrorAnswer(error_text::kBlobUrlRefused);
  if (IsImageUrl(url)) return ErrorAnswer(error_text::kImageUrlRefused);

  const nlohmann::json payload = {{"fileName", filename},
                                  {"referrer", referrer},
                                  {"source", message.value("source", std::string("unknown"))},
                                  {"url", url}};
  // Read before anyone is contacted, so a member of the wrong type costs nothing.
  const EnqueueFields fields{
      url, filename, referrer, HeaderValueOrEmpty(message.value(member::kCookie, std::string())),
      HeaderValueOrEmpty(message.value(member::kUserAgent, std::string()))};
  if (SendToUiCapture(CompactJson(payload))) return kDialogReply;
  if (LaunchUiProgram(url, filename, referrer)) return kDialogReply;

  // The service drops a longer request unanswered; the browser is better told why.
  if (!Fits(fields)) {
    EnqueueFields withoutCookie = fields;
    withoutCookie.cookie.clear();
    if (!fields.cookie.empty() && Fits(withoutCookie)) {
      return ErrorAnswer(error_text::kCookiesTooLong);
    }
    EnqueueFields withoutName = withoutCookie;
    withoutName.filename.clear();
    return ErrorAnswer(Fits(withoutName) ? error_text::kFileNameTooLong
                                         : error_text::kDownloadUrlTooLong);
  }
  return SendToService(EnqueueRequest(fields));
}

bool SendToUiCapture(const std::string& payloadText) {
  const auto answer =
      platform::SendPipeRequest(kUiCaptureSocketName, payloadText, kMaxUiReplyBytes, kUiWait);
  return answer && IsCaptureAccepted(*answer);
}

bool LaunchUiProgram(const std::string& url, const std::string& filename,
                     const std::string& referrer) {
  const auto program = FindUiProgram();
  if (program.empty()) return false;
  // One argument per switch, values untouched: no shell parses them, so quotes
  // and blanks inside a value arrive intact.
  std::vector<std::string> arguments{"--capture-url=" + url};
  if (!filename.empty()) arguments.push_back("--capture-file-name=" + filename);
  if (!referrer.empty()) arguments.push_back("--capture-referrer=" + referrer);
  arguments.push_back("--capture-source=launch-fallback");
  return platform::StartDetached(program, arguments);
}

std::string FindUiProgram() {
  const auto program = platform::ProgramPath();
  const auto root = platform::FindProjectRoot();
  const std::filesystem::path candidates[] = {
      program.empty() ? std::filesystem::path() : program.parent_path() / UiProgramFile(kUiProgramName),
      root / UiProgramFile(kUiDebugProgram),
      root / UiProgramFile(kUiReleaseProgram),
  };
  for (const auto& candidate : candidates) {
    if (Exists(candidate)) return candidate.string();
  }
  return {};
}

std::string SendToService(const std::string& requestText, std::size_t maxReplyBytes) {
  const auto answer =
      platform::SendPipeRequest(kServiceSocketName, requestText, maxReplyBytes, kServiceWait);
  if (!answer) return OkFirstErrorAnswer(error_text::kServiceUnavailable);
  // A connection that closes without an answer is not something the browser can parse.
  if (answer->empty()) return ErrorAnswer(error_text::kServiceDidNotAnswer);
  return *answer;
}

}  // namespace vn

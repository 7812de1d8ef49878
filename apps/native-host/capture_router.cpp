#include "apps/native-host/capture_router.h"

#include <filesystem>
#include <regex>
#include <system_error>
#include <vector>

#include "apps/native-host/json_text.h"
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

// Without a resolved source there is nothing the download manager could fetch.
constexpr const char* kBlobReply =
    R"({"error":"Refusing to open dialog for blob URL without a resolved source URL","ok":false})";
constexpr const char* kImageReply =
    R"({"error":"Refusing to open dialog for image URL","ok":false})";
constexpr const char* kMissingUrlReply = R"({"error":"Missing url","ok":false})";
// A connection that closes without an answer is not something the browser can parse.
constexpr const char* kNoServiceAnswerReply = R"({"error":"Service did not answer","ok":false})";

bool Exists(const std::filesystem::path& path) {
  std::error_code ignored;
  return !path.empty() && std::filesystem::exists(path, ignored);
}

}  // namespace

bool IsImageUrl(const std::string& url) {
  static const std::regex kImagePattern(R"(\.(png|jpg|jpeg|gif|webp|svg)(\?|#|$))",
                                        std::regex::ECMAScript | std::regex::icase);
  return std::regex_search(url, kImagePattern);
}

std::string RouteCapture(const nlohmann::json& message, const std::string& url,
                         const std::string& capturedFilename, const std::string& referrer) {
  if (url.empty()) return kMissingUrlReply;
  const std::string filename =
      capturedFilename.find('\0') == std::string::npos ? capturedFilename : std::string();
  if (url.starts_with("blob:")) return kBlobReply;
  if (IsImageUrl(url)) return kImageReply;

  const nlohmann::json payload = {{"fileName", filename},
                                  {"referrer", referrer},
                                  {"source", message.value("source", std::string("unknown"))},
                                  {"url", url}};
  if (SendToUiCapture(CompactJson(payload))) return kDialogReply;
  if (LaunchUiProgram(url, filename, referrer)) return kDialogReply;

  const nlohmann::json request = {{"fileName", filename},
                                  {"outputPath", platform::DefaultDownloadFolder().string()},
                                  {"referrer", referrer},
                                  {"type", "enqueue_download"},
                                  {"url", url}};
  return SendToService(CompactJson(request));
}

bool SendToUiCapture(const std::string& payloadText) {
  const auto answer =
      platform::SendPipeRequest(kUiCapturePipeName, payloadText, kMaxUiReplyBytes, kUiWait);
  return answer && answer->find(R"("ok":true)") != std::string::npos;
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

std::string SendToService(const std::string& requestText) {
  const auto answer =
      platform::SendPipeRequest(kServicePipeName, requestText, kMaxServiceReplyBytes, kServiceWait);
  if (!answer) return kServiceUnavailableReply;
  if (answer->empty()) return kNoServiceAnswerReply;
  return *answer;
}

}  // namespace vn

// "browser-manifests.json" (data root): {"manifests": ["/abs/path.json", ...]},
// the manifests that install wrote, written through a temporary file.
#include "apps/varnel/browser_commands.h"

#include <algorithm>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <sstream>

#include "apps/protocol/browser_host_names.h"
#include "apps/protocol/json_text.h"
#include "apps/varnel/browser_manifests.h"
#include "apps/varnel/cli_errors.h"
#include "apps/varnel/program_locations.h"
#include "apps/varnel/task_view.h"
#include "platform/locations.h"

namespace vn::cli {
namespace {

constexpr std::size_t kMaxExtensionIdLength = 128;
constexpr std::size_t kMaxRecordBytes = 1 << 20;

std::filesystem::path RecordPath() {
  return platform::ResolveDataRoot() / kInstalledManifestsFileName;
}

nlohmann::json ReadJsonFile(const std::filesystem::path& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error || size > kMaxRecordBytes) return nlohmann::json::object();
  std::ifstream in(path, std::ios::binary);
  auto parsed = nlohmann::json::parse(in, nullptr, false);
  return parsed.is_object() ? parsed : nlohmann::json::object();
}

std::vector<std::filesystem::path> RecordedManifests() {
  std::vector<std::filesystem::path> paths;
  const auto record = ReadJsonFile(RecordPath());
  const auto manifests = record.find("manifests");
  if (manifests == record.end() || !manifests->is_array()) return paths;
  for (const auto& path : *manifests) {
    if (path.is_string()) paths.emplace_back(path.get<std::string>());
  }
  return paths;
}

void SaveRecord(const std::vector<std::filesystem::path>& paths) {
  nlohmann::json manifests = nlohmann::json::array();
  for (const auto& path : paths) manifests.push_back(path.string());
  WriteFileAtomically(RecordPath(), IndentedJson({{"manifests", manifests}}));
}

// A recorded path is removed only when it is one of our manifest files, so an
// altered record cannot make uninstall delete anything else.
bool IsOurManifestPath(const std::filesystem::path& path) {
  const auto browsers = KnownBrowsers();
  return std::any_of(browsers.begin(), browsers.end(),
                     [&](const Browser& browser) { return ManifestPath(browser) == path; });
}

void CheckExtensionId(const std::string& id, const char* option) {
  const bool fits =
      !id.empty() && id.size() <= kMaxExtensionIdLength &&
      std::all_of(id.begin(), id.end(), [](unsigned char c) {
        return std::isalnum(c) || std::string_view("@._-{}").find(c) != std::string_view::npos;
      });
  if (!fits) throw UsageError(std::string(option) + " takes an extension id, not " + Printable(id));
}

void AddMissing(std::vector<std::string>& ids, const std::vector<std::string>& more) {
  for (const auto& id : more) {
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  }
}

std::string HandshakeText(const nlohmann::json& handshakes, const std::string& browser) {
  const auto entry = handshakes.find(browser);
  if (entry == handshakes.end() || !entry->is_object()) return "no handshake yet";
  const auto seen = entry->value("lastSeenUtcEpoch", nlohmann::json());
  if (!seen.is_number_integer()) return "no handshake yet";
  const std::time_t when = seen.get<std::int64_t>();
  std::ostringstream text;
  text << "last handshake " << std::put_time(std::gmtime(&when), "%Y-%m-%d %H:%M:%S UTC");
  const auto extension = entry->value("extensionId", nlohmann::json());
  if (extension.is_string() && !extension.get<std::string>().empty()) {
    text << " from extension " << Printable(extension.get<std::string>());
  }
  return text.str();
}

}  // namespace

int RunBrowserInstall(Console& console, const BrowserInstallOptions& options) {
  for (const auto& id : options.chromeExtensionIds) CheckExtensionId(id, "--chrome-extension-id");
  if (!options.firefoxExtensionId.empty()) {
    CheckExtensionId(options.firefoxExtensionId, "--firefox-extension-id");
  }
  const auto host = FindNativeHostBinary();
  if (host.empty()) {
    throw std::runtime_error("the native host program was not found beside varnel");
  }
  auto written = RecordedManifests();
  bool anyFound = false;
  for (const auto& browser : KnownBrowsers()) {
    if (!IsFound(browser)) continue;
    anyFound = true;
    const auto path = ManifestPath(browser);
    const bool chromium = browser.family == ManifestFamily::kChromium;
    std::vector<std::string> ids =
        chromium ? options.chromeExtensionIds : std::vector<std::string>{};
    if (!chromium && !options.firefoxExtensionId.empty()) ids.push_back(options.firefoxExtensionId);
    AddMissing(ids, ReadManifest(path, browser.family).extensionIds);
    if (ids.empty()) {
      console.Line(browser.title + ": skipped, no extension id (give " +
                   (chromium ? "--chrome-extension-id" : "--firefox-extension-id") + " ID)");
      continue;
    }
    WriteFileAtomically(path, IndentedJson(MakeManifest(browser.family, host, ids)));
    if (std::find(written.begin(), written.end(), path) == written.end()) written.push_back(path);
    SaveRecord(written);
    console.Line(browser.title + ": wrote " + path.string());
  }
  if (!anyFound) console.Line("No browser found for this user; nothing written.");
  return kExitSuccess;
}

int RunBrowserUninstall(Console& console) {
  const auto recorded = RecordedManifests();
  if (recorded.empty()) {
    console.Line("Nothing to remove: no manifest was written by `varnel browser install`.");
    return kExitSuccess;
  }
  for (const auto& path : recorded) {
    std::error_code error;
    if (!IsOurManifestPath(path) ||
        !std::filesystem::is_regular_file(std::filesystem::symlink_status(path, error))) {
      continue;
    }
    if (std::filesystem::remove(path, error)) console.Line("Removed " + path.string());
  }
  std::error_code ignored;
  std::filesystem::remove(RecordPath(), ignored);
  return kExitSuccess;
}

int RunBrowserStatus(Console& console) {
  const auto handshakes = ReadJsonFile(platform::ResolveHandshakeFolder() / kHandshakeFileName);
  for (const auto& browser : KnownBrowsers()) {
    if (!IsFound(browser)) {
      console.Line(browser.title + ": not found (" + browser.profileFolder.string() + ")");
      continue;
    }
    const auto path = ManifestPath(browser);
    const auto state = ReadManifest(path, browser.family);
    std::string manifest = "no manifest (run `varnel browser install`)";
    if (state.present && state.valid && state.hostExecutable) {
      manifest = "manifest " + path.string() + " -> " + state.hostPath.string();
    } else if (state.present) {
      manifest = "broken manifest " + path.string() + ": " + state.problem;
    }
    console.Line(browser.title + ": " + manifest + "; " + HandshakeText(handshakes, browser.name));
  }
  return kExitSuccess;
}

}  // namespace vn::cli

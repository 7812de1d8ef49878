#include "apps/varnel/browser_commands.h"

#include <algorithm>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <map>
#include <memory>
#include <sstream>

#include "apps/protocol/browser_host_names.h"
#include "apps/protocol/json_text.h"
#include "apps/varnel/browser_extension_folders.h"
#include "apps/varnel/browser_extension_ids.h"
#include "apps/varnel/browser_manifests.h"
#include "apps/varnel/cli_errors.h"
#include "apps/varnel/extension_ids.h"
#include "apps/varnel/install_record.h"
#include "apps/varnel/program_locations.h"
#include "apps/varnel/task_view.h"
#include "platform/link_free_folder.h"
#include "platform/locations.h"
#include "platform/registry.h"

namespace vn::cli {
namespace {

constexpr std::size_t kMaxHandshakesBytes = 1 << 20;

nlohmann::json ReadJsonFile(const std::filesystem::path& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error || size > kMaxHandshakesBytes) return nlohmann::json::object();
  std::ifstream in(path, std::ios::binary);
  auto parsed = nlohmann::json::parse(in, nullptr, false);
  return parsed.is_object() ? parsed : nlohmann::json::object();
}

// A recorded path is touched only when it is one of our manifest files, so an
// altered record cannot make uninstall delete anything else.
const Browser* BrowserOf(const std::vector<Browser>& browsers, const std::filesystem::path& path) {
  const auto found = std::find_if(browsers.begin(), browsers.end(), [&](const Browser& browser) {
    return ManifestPath(browser) == path;
  });
  return found == browsers.end() ? nullptr : &*found;
}

// The manifest folder, reached without a symbolic link below the browser's
// profile folder (which the user may have linked elsewhere on purpose). With
// create, missing folders are made; without, null when one is missing.
std::unique_ptr<platform::LinkFreeFolder> OpenManifestFolder(const Browser& browser, bool create) {
  auto folder = browser.profileFolder;
  for (const auto& part : browser.manifestFolder.lexically_relative(browser.profileFolder)) {
    folder /= part;
    std::error_code error;
    const auto status = std::filesystem::symlink_status(folder, error);
    if (std::filesystem::is_symlink(status)) {
      throw std::runtime_error(folder.string() +
                               " is a symbolic link; nothing is written through it");
    }
    if (std::filesystem::exists(status)) continue;
    if (!create) return nullptr;
    if (!std::filesystem::create_directory(folder, error) && error) {
      throw std::runtime_error("cannot create " + folder.string() + ": " + error.message());
    }
  }
  try {
    return std::make_unique<platform::LinkFreeFolder>(browser.manifestFolder);
  } catch (const std::runtime_error& error) {
    throw std::runtime_error(browser.manifestFolder.string() + " " + error.what());
  }
}

// Why a manifest file may not be replaced or removed; empty when it holds
// what install wrote there.
std::string WhyNotOurs(const platform::LinkFreeFolder::Content& content,
                       const std::filesystem::path& path, const Browser& browser,
                       const InstallRecord& record) {
  using Entry = platform::LinkFreeFolder::Entry;
  if (content.entry == Entry::kOther) return "it is not a regular file";
  const auto digest = record.DigestOf(path);
  if (digest) {
    return *digest == Sha256Of(content.bytes) ? "" : "it was changed after varnel wrote it";
  }
  const auto state = ParseManifest(content.bytes, browser.family);
  // A record of an older varnel has no digests: its manifest naming our host
  // is taken as the one it wrote.
  if (record.Holds(path)) {
    const auto host = FindNativeHostBinary();
    return state.valid && !host.empty() && state.hostPath == host
               ? ""
               : "it was changed after varnel wrote it";
  }
  return "varnel did not write it" +
         (state.valid ? " (it starts " + Printable(state.hostPath.string()) + ")" : std::string());
}

std::string UtcStamp() {
  const std::time_t now = std::time(nullptr);
  std::ostringstream text;
  text << std::put_time(std::gmtime(&now), "%Y%m%dT%H%M%SZ");
  return text.str();
}

void CheckExtensionIds(const BrowserInstallOptions& options) {
  for (const auto& id : options.chromeExtensionIds) {
    if (!IsChromiumExtensionId(id)) {
      throw UsageError("--chrome-extension-id takes an extension id of 32 letters a to p, not " +
                       Printable(id));
    }
  }
  if (!options.firefoxExtensionId.empty() && !IsFirefoxExtensionId(options.firefoxExtensionId)) {
    throw UsageError("--firefox-extension-id takes an id like name@example.org or {GUID}, not " +
                     Printable(options.firefoxExtensionId));
  }
}

// The ids to allow: those given, Varnel's own extension, then the valid ones
// of our earlier manifest.
std::vector<std::string> IdsFor(const Browser& browser, const BrowserInstallOptions& options,
                                const std::string& earlierManifest) {
  const bool chromium = browser.family == ManifestFamily::kChromium;
  std::vector<std::string> ids = chromium ? options.chromeExtensionIds : std::vector<std::string>{};
  if (!chromium && !options.firefoxExtensionId.empty()) ids.push_back(options.firefoxExtensionId);
  const auto add = [&ids](const std::string& id) {
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  };
  add(chromium ? kOwnChromiumExtensionId : kOwnFirefoxExtensionId);
  if (earlierManifest.empty()) return ids;
  for (const auto& id : ParseManifest(earlierManifest, browser.family).extensionIds) {
    if (chromium ? IsChromiumExtensionId(id) : IsFirefoxExtensionId(id)) add(id);
  }
  return ids;
}

// Writes one browser's manifest; false when it was not set up. Throws
// std::runtime_error when a file cannot be written.
bool InstallFor(Console& console, const Browser& browser, const BrowserInstallOptions& options,
                const std::filesystem::path& host, InstallRecord& record) {
  const auto path = ManifestPath(browser);
  const auto name = path.filename().string();
  const auto folder = OpenManifestFolder(browser, true);
  const auto existing = folder->Read(name, kMaxManifestBytes);
  const bool present = existing.entry != platform::LinkFreeFolder::Entry::kAbsent;
  const std::string why = present ? WhyNotOurs(existing, path, browser, record) : "";
  if (!why.empty() && !options.force) {
    console.Error(browser.title + ": kept " + path.string() + ": " + why +
                  "; give --force to replace it (the old one is then kept beside it)");
    return false;
  }
  const auto ids = IdsFor(browser, options, present && why.empty() ? existing.bytes : "");
  if (!why.empty()) {
    const auto backup = name + ".bak-" + UtcStamp();
    if (!folder->Rename(name, backup)) {
      throw std::runtime_error("cannot move " + path.string() + " aside to " + backup);
    }
    console.Line(browser.title + ": moved " + path.string() + " aside to " + backup);
  }
  const auto text = IndentedJson(MakeManifest(browser.family, host, ids));
  if (!folder->Replace(name, text)) throw std::runtime_error("cannot write " + path.string());
  record.Add(path, Sha256Of(text));
  record.Save();
  console.Line(browser.title + ": wrote " + path.string());
  return true;
}

std::string RegistryName(const Browser& browser) { return "HKCU\\" + browser.registryKey; }

// Points the browser's registry key, where it has one, at its manifest; false
// when the key names another manifest and force is not given. Throws
// std::runtime_error when the key cannot be set.
bool RegisterFor(Console& console, const Browser& browser, bool force, InstallRecord& record) {
  if (browser.registryKey.empty()) return true;
  const auto path = ManifestPath(browser).string();
  const auto current = platform::ReadUserRegistryDefault(browser.registryKey);
  const auto& recorded = record.RegistryValues();
  const auto earlier = recorded.find(browser.registryKey);
  const bool ours = !current || *current == path ||
                    (earlier != recorded.end() && earlier->second == *current);
  if (!ours && !force) {
    console.Error(browser.title + ": kept " + RegistryName(browser) + ": it points at " +
                  Printable(*current) + "; give --force to replace it");
    return false;
  }
  platform::WriteUserRegistryDefault(browser.registryKey, path);
  record.AddRegistryValue(browser.registryKey, path);
  record.Save();
  console.Line(browser.title + ": set " + RegistryName(browser) + " to " + path +
               (ours ? "" : " (it pointed at " + Printable(*current) + ")"));
  return true;
}

// Clears a recorded registry key while it still holds what install set. A
// recorded key is touched only when it is one of our browsers' keys and its
// recorded value one of our manifests, so an altered record reaches nothing else.
void Unregister(Console& console, const std::vector<Browser>& browsers, const std::string& key,
                const std::string& value) {
  const auto found = std::find_if(browsers.begin(), browsers.end(), [&](const Browser& browser) {
    return !browser.registryKey.empty() && browser.registryKey == key &&
           ManifestPath(browser).string() == value;
  });
  if (found == browsers.end()) return;
  const auto current = platform::ReadUserRegistryDefault(key);
  if (!current) return;
  if (*current != value) {
    console.Line("Kept " + RegistryName(*found) + ": it now points at " + Printable(*current) +
                 ".");
    return;
  }
  platform::RemoveUserRegistryDefault(key);
  console.Line("Removed " + RegistryName(*found));
}

std::string RegistryText(const Browser& browser) {
  const auto value = platform::ReadUserRegistryDefault(browser.registryKey);
  if (!value) return RegistryName(browser) + " not set";
  const bool ours = *value == ManifestPath(browser).string();
  return RegistryName(browser) + " -> " + Printable(*value) +
         (ours ? " (varnel's manifest)" : " (not varnel's manifest)");
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

// Where Varnel's extension for the family lies and how a user loads it.
std::string ExtensionText(ManifestFamily family) {
  const bool chromium = family == ManifestFamily::kChromium;
  const auto folder = FindExtensionFolder(family);
  std::string text = chromium ? "Extension for Chrome, Chromium, Edge and Brave (id "
                              : "Extension for Firefox (id ";
  text += chromium ? kOwnChromiumExtensionId : kOwnFirefoxExtensionId;
  text += "): ";
  if (folder.empty()) return text + "not found beside varnel (build it, or install the package)";
  text += folder.string() + "\n  ";
  if (chromium) {
    return text +
           "load it at chrome://extensions (edge://extensions, brave://extensions): turn on "
           "Developer mode, choose \"Load unpacked\" and pick that folder";
  }
  return text +
         "load it at about:debugging#/runtime/this-firefox: \"Load Temporary Add-on...\" and "
         "pick its manifest.json (until Firefox restarts); to keep it, install a copy signed "
         "for self-distribution";
}

}  // namespace

int RunBrowserInstall(Console& console, const BrowserInstallOptions& options) {
  CheckExtensionIds(options);
  const auto host = FindNativeHostBinary();
  if (host.empty()) {
    // scripts/download.sh builds only varnel and the service.
    throw std::runtime_error(
        "the native host program was not found beside varnel; build it with "
        "`scripts/build.sh quick native-host` or install the package");
  }
  auto record = InstallRecord::Load();
  bool anyFound = false;
  std::size_t failed = 0;
  for (const auto& browser : KnownBrowsers()) {
    if (!IsFound(browser)) continue;
    anyFound = true;
    try {
      if (!InstallFor(console, browser, options, host, record) ||
          !RegisterFor(console, browser, options.force, record)) {
        ++failed;
      }
    } catch (const std::exception& error) {
      console.Error(browser.title + ": not set up: " + error.what());
      ++failed;
    }
  }
  if (!anyFound) console.Line("No browser found for this user; nothing written.");
  if (failed == 0) return kExitSuccess;
  console.Error(std::to_string(failed) + " browser(s) not set up; see above");
  return kExitDownloadFailed;
}

int RunBrowserUninstall(Console& console) {
  auto record = InstallRecord::Load();
  if (record.Empty()) {
    console.Line("Nothing to remove: no manifest was written by `varnel browser install`.");
    return kExitSuccess;
  }
  const auto browsers = KnownBrowsers();
  bool failed = false;
  // Registry keys first, so no browser is left pointing at a removed manifest.
  for (const auto& [key, value] : std::map<std::string, std::string>(record.RegistryValues())) {
    try {
      Unregister(console, browsers, key, value);
      record.ForgetRegistryValue(key);
    } catch (const std::exception& error) {
      console.Error("not removed: HKCU\\" + Printable(key) + ": " + error.what());
      failed = true;
    }
  }
  for (const auto& path : std::vector<std::filesystem::path>(record.Paths())) {
    const Browser* browser = BrowserOf(browsers, path);
    try {
      const auto folder = browser ? OpenManifestFolder(*browser, false) : nullptr;
      const auto name = path.filename().string();
      const auto content =
          folder ? folder->Read(name, kMaxManifestBytes) : platform::LinkFreeFolder::Content{};
      if (content.entry == platform::LinkFreeFolder::Entry::kAbsent) {
        // Gone already, or not one of our manifest paths: nothing to do.
      } else if (const auto why = WhyNotOurs(content, path, *browser, record); !why.empty()) {
        console.Line("Kept " + path.string() + ": " + why + ".");
      } else if (folder->Remove(name)) {
        console.Line("Removed " + path.string());
      } else {
        throw std::runtime_error("it cannot be removed");
      }
      record.Forget(path);
    } catch (const std::exception& error) {
      console.Error("not removed: " + path.string() + ": " + error.what());
      failed = true;
    }
  }
  record.Save();
  return failed ? kExitDownloadFailed : kExitSuccess;
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
    if (!browser.registryKey.empty()) manifest += "; " + RegistryText(browser);
    console.Line(browser.title + ": " + manifest + "; " + HandshakeText(handshakes, browser.name));
  }
  console.Line(ExtensionText(ManifestFamily::kChromium));
  console.Line(ExtensionText(ManifestFamily::kFirefox));
  return kExitSuccess;
}

}  // namespace vn::cli

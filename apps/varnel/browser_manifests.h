#pragma once

// Native-messaging manifests: browsers find the host "com.varnel.v2" through
// a JSON file named after it, on Linux in a per-browser folder of the user's
// home, on Windows wherever a per-browser registry key points. Chromium-family browsers list the extensions allowed to call the host
// as origins ("chrome-extension://ID/"), Firefox as extension ids. Pure file
// work, no process; main thread only.

#include <cstddef>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace vn::cli {

enum class ManifestFamily { kChromium, kFirefox };

struct Browser {
  std::string name;   // its key in the handshake registry, e.g. "chrome"
  std::string title;  // "Google Chrome"
  ManifestFamily family;
  std::filesystem::path profileFolder;   // exists when the browser is used here
  std::filesystem::path manifestFolder;  // where it looks for native hosts
  std::string manifestName;              // the manifest's file name there
  // Windows: the HKCU key whose default value is the manifest's path; empty
  // where browsers look in manifestFolder itself.
  std::string registryKey;
};

// Chrome, Chromium, Edge, Brave and Firefox, whether found or not. Linux:
// their folders under $XDG_CONFIG_HOME or ~/.config and ~/.mozilla; empty when
// HOME is unknown. Windows: one folder of varnel's own in the data root, a
// manifest for the Chromium family and one for Firefox, and a registry key
// per browser.
std::vector<Browser> KnownBrowsers();

// True when the browser's profile folder exists.
bool IsFound(const Browser& browser);

std::filesystem::path ManifestPath(const Browser& browser);

// The manifest text for hostPath; extensionIds are ids, made into origins for
// the Chromium family.
nlohmann::json MakeManifest(ManifestFamily family, const std::filesystem::path& hostPath,
                            const std::vector<std::string>& extensionIds);

struct ManifestState {
  bool present = false;
  bool valid = false;           // our name, stdio, an absolute path, at least one caller
  bool hostExecutable = false;  // path names an executable file
  std::filesystem::path hostPath;
  std::vector<std::string> extensionIds;  // back as ids, for either family
  std::string problem;                    // why not valid, or why the host is unusable
};

// Larger files are not manifests of ours and are not read.
inline constexpr std::size_t kMaxManifestBytes = 64 << 10;

// Reads a manifest defensively (size-capped, any content).
ManifestState ReadManifest(const std::filesystem::path& path, ManifestFamily family);

// The same for a manifest's text already read; present is true.
ManifestState ParseManifest(const std::string& text, ManifestFamily family);

// Writes text to path through a temporary file in the same folder, so a
// reader never sees half a file. Throws std::runtime_error on failure.
void WriteFileAtomically(const std::filesystem::path& path, const std::string& text);

}  // namespace vn::cli

#pragma once

// `varnel browser install|uninstall|status`: hooks the native host up to the
// browsers of this user. install records every file it writes in
// "browser-manifests.json" in the data root, so uninstall removes exactly
// those and nothing else. Main thread only; throws the errors of cli_errors.h.

#include <string>
#include <vector>

#include "apps/varnel/console.h"

namespace vn::cli {

inline constexpr const char* kInstalledManifestsFileName = "browser-manifests.json";

struct BrowserInstallOptions {
  std::vector<std::string> chromeExtensionIds;  // for Chrome, Chromium, Edge and Brave
  std::string firefoxExtensionId;
};

// Writes a manifest for every browser found, keeping the extension ids of an
// earlier install; safe to run again.
int RunBrowserInstall(Console& console, const BrowserInstallOptions& options);
int RunBrowserUninstall(Console& console);
// Each browser, its manifest and its last handshake; always exit 0.
int RunBrowserStatus(Console& console);

}  // namespace vn::cli

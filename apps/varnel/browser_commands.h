#pragma once

// `varnel browser install|uninstall|status`: hooks the native host up to the
// browsers of this user. install records every file it writes, with a digest
// of its text (install_record.h), so install replaces and uninstall removes
// only files that still hold what install wrote. Nothing is written or removed
// through a symbolic link. On Windows install also points each browser's
// registry key at its manifest and records that too; uninstall clears only a
// key that still points there. Main thread only; throws the errors of
// cli_errors.h.

#include <string>
#include <vector>

#include "apps/varnel/console.h"

namespace vn::cli {

struct BrowserInstallOptions {
  std::vector<std::string> chromeExtensionIds;  // for Chrome, Chromium, Edge and Brave
  std::string firefoxExtensionId;
  // Also replace a manifest that install did not write or that was changed
  // since, after moving it aside to "<name>.bak-<UTC time>".
  bool force = false;
};

// Writes a manifest for every browser found, keeping the extension ids of an
// earlier install; safe to run again. Goes on past a browser it cannot set up
// and then returns kExitDownloadFailed (each one named on standard error).
int RunBrowserInstall(Console& console, const BrowserInstallOptions& options);
// Removes the recorded manifests that still hold what install wrote; a changed
// one is kept and named. kExitDownloadFailed when one could not be removed.
int RunBrowserUninstall(Console& console);
// Each browser, its manifest (on Windows also its registry key) and its last
// handshake; always exit 0.
int RunBrowserStatus(Console& console);

}  // namespace vn::cli

// Windows browsers read the manifest's path from a registry key of their own,
// so the manifests lie in varnel's data root: one for the Chromium family and
// one for Firefox, named as the installer names them.
#include "apps/protocol/browser_host_names.h"
#include "apps/varnel/browser_manifests.h"
#include "platform/locations.h"

namespace vn::cli {

std::vector<Browser> KnownBrowsers() {
  const auto root = platform::ResolveDataRoot();
  const auto folder = root / "NativeMessagingHosts";
  const std::string host = kNativeHostName;
  const auto browser = [&](const char* name, const char* title, ManifestFamily family,
                           const std::string& vendorKey) {
    const char* suffix = family == ManifestFamily::kChromium ? ".chromium.json" : ".firefox.json";
    // The data root's own folder is made on install; the one above it is the
    // user's, which must exist.
    return Browser{name,          title,
                   family,        root.parent_path(),
                   folder,        host + suffix,
                   "Software\\" + vendorKey + "\\NativeMessagingHosts\\" + host};
  };
  return {
      browser("chrome", "Google Chrome", ManifestFamily::kChromium, "Google\\Chrome"),
      browser("chromium", "Chromium", ManifestFamily::kChromium, "Chromium"),
      browser("edge", "Microsoft Edge", ManifestFamily::kChromium, "Microsoft\\Edge"),
      browser("brave", "Brave", ManifestFamily::kChromium, "BraveSoftware\\Brave-Browser"),
      browser("firefox", "Firefox", ManifestFamily::kFirefox, "Mozilla"),
  };
}

}  // namespace vn::cli

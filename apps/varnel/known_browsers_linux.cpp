// Linux browsers look for "<host name>.json" in a folder of their own.
#include "apps/protocol/browser_host_names.h"
#include "apps/varnel/browser_manifests.h"
#include "platform/process.h"

namespace vn::cli {
namespace {

std::filesystem::path AbsoluteVariable(const char* name) {
  const auto value = platform::GetEnvironment(name);
  if (!value || value->empty() || (*value)[0] != '/') return {};
  return *value;
}

}  // namespace

std::vector<Browser> KnownBrowsers() {
  const auto home = AbsoluteVariable("HOME");
  if (home.empty()) return {};
  auto config = AbsoluteVariable("XDG_CONFIG_HOME");
  if (config.empty()) config = home / ".config";
  const std::string manifestName = std::string(kNativeHostName) + ".json";
  const auto chromium = [&](const char* name, const char* title, std::filesystem::path folder) {
    return Browser{name,          title,        ManifestFamily::kChromium, config / folder,
                   config / folder / "NativeMessagingHosts", manifestName, ""};
  };
  return {
      chromium("chrome", "Google Chrome", "google-chrome"),
      chromium("chromium", "Chromium", "chromium"),
      chromium("edge", "Microsoft Edge", "microsoft-edge"),
      chromium("brave", "Brave", std::filesystem::path("BraveSoftware") / "Brave-Browser"),
      Browser{"firefox", "Firefox", ManifestFamily::kFirefox, home / ".mozilla",
              home / ".mozilla" / "native-messaging-hosts", manifestName, ""},
  };
}

}  // namespace vn::cli

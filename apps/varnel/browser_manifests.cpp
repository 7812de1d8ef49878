// A manifest is a small JSON object:
//   {"allowed_origins": ["chrome-extension://ID/"],   (Chromium family)
//    "allowed_extensions": ["ID"],                     (Firefox)
//    "description": ..., "name": "com.varnel.v2", "path": "/abs/native-host",
//    "type": "stdio"}
#include "apps/varnel/browser_manifests.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "apps/protocol/browser_host_names.h"

namespace vn::cli {
namespace {

constexpr const char* kOriginPrefix = "chrome-extension://";
constexpr const char* kDescription = "Varnel download manager";

const char* CallersKey(ManifestFamily family) {
  return family == ManifestFamily::kChromium ? "allowed_origins" : "allowed_extensions";
}

// "chrome-extension://ID/" back to ID; other texts stay as they are.
std::string IdOf(const std::string& caller) {
  const std::string prefix = kOriginPrefix;
  if (caller.rfind(prefix, 0) != 0) return caller;
  std::string id = caller.substr(prefix.size());
  if (!id.empty() && id.back() == '/') id.pop_back();
  return id;
}

bool IsExecutableFile(const std::filesystem::path& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  const auto executable = std::filesystem::perms::owner_exec | std::filesystem::perms::group_exec |
                          std::filesystem::perms::others_exec;
  return !error && std::filesystem::is_regular_file(status) &&
         (status.permissions() & executable) != std::filesystem::perms::none;
}

}  // namespace

bool IsFound(const Browser& browser) {
  std::error_code error;
  return std::filesystem::is_directory(browser.profileFolder, error);
}

std::filesystem::path ManifestPath(const Browser& browser) {
  return browser.manifestFolder / browser.manifestName;
}

nlohmann::json MakeManifest(ManifestFamily family, const std::filesystem::path& hostPath,
                            const std::vector<std::string>& extensionIds) {
  nlohmann::json callers = nlohmann::json::array();
  for (const auto& id : extensionIds) {
    callers.push_back(family == ManifestFamily::kChromium ? kOriginPrefix + id + "/" : id);
  }
  return {{"name", kNativeHostName},
          {"description", kDescription},
          {"path", hostPath.string()},
          {"type", "stdio"},
          {CallersKey(family), callers}};
}

ManifestState ReadManifest(const std::filesystem::path& path, ManifestFamily family) {
  ManifestState state;
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return state;
  state.present = true;
  const auto size = std::filesystem::file_size(path, error);
  if (error || size > kMaxManifestBytes) {
    state.problem = "unreadable or too large";
    return state;
  }
  std::ifstream in(path, std::ios::binary);
  return ParseManifest({std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()},
                       family);
}

ManifestState ParseManifest(const std::string& text, ManifestFamily family) {
  ManifestState state;
  state.present = true;
  const auto manifest = nlohmann::json::parse(text, nullptr, false);
  if (manifest.is_discarded() || !manifest.is_object()) {
    state.problem = "not a JSON object";
    return state;
  }
  const auto callers = manifest.find(CallersKey(family));
  if (callers != manifest.end() && callers->is_array()) {
    for (const auto& caller : *callers) {
      if (caller.is_string()) state.extensionIds.push_back(IdOf(caller.get<std::string>()));
    }
  }
  const auto hostPath = manifest.find("path");
  if (manifest.value("name", nlohmann::json()) != kNativeHostName) {
    state.problem = "its \"name\" is not " + std::string(kNativeHostName);
  } else if (manifest.value("type", nlohmann::json()) != "stdio") {
    state.problem = "its \"type\" is not stdio";
  } else if (hostPath == manifest.end() || !hostPath->is_string() ||
             !std::filesystem::path(hostPath->get<std::string>()).is_absolute()) {
    state.problem = "its \"path\" is not an absolute path";
  } else if (state.extensionIds.empty()) {
    state.problem = std::string("it allows no extension (\"") + CallersKey(family) + "\")";
  } else {
    state.valid = true;
    state.hostPath = hostPath->get<std::string>();
    state.hostExecutable = IsExecutableFile(state.hostPath);
    if (!state.hostExecutable) state.problem = "no program at " + state.hostPath.string();
  }
  return state;
}

void WriteFileAtomically(const std::filesystem::path& path, const std::string& text) {
  std::error_code error;
  std::filesystem::create_directories(path.parent_path(), error);
  const auto temporary = path.parent_path() / (path.filename().string() + ".tmp");
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) {
      std::filesystem::remove(temporary, error);
      throw std::runtime_error("cannot write " + path.string());
    }
  }
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    throw std::runtime_error("cannot write " + path.string());
  }
}

}  // namespace vn::cli

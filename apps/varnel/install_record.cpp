#include "apps/varnel/install_record.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>

#include "apps/protocol/json_text.h"
#include "apps/varnel/browser_manifests.h"
#include "platform/locations.h"
#include "platform/sha256.h"

namespace vn::cli {
namespace {

constexpr std::size_t kMaxRecordBytes = 1 << 20;
constexpr const char* kManifestsKey = "manifests";
constexpr const char* kDigestsKey = "sha256";
constexpr const char* kRegistryKey = "registry";

std::filesystem::path RecordPath() {
  return platform::ResolveDataRoot() / kInstalledManifestsFileName;
}

}  // namespace

InstallRecord InstallRecord::Load() {
  InstallRecord record;
  const auto path = RecordPath();
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error || size > kMaxRecordBytes) return record;
  std::ifstream in(path, std::ios::binary);
  const auto parsed = nlohmann::json::parse(in, nullptr, false);
  if (!parsed.is_object()) return record;
  const auto manifests = parsed.find(kManifestsKey);
  if (manifests != parsed.end() && manifests->is_array()) {
    for (const auto& manifest : *manifests) {
      if (manifest.is_string() && !record.Holds(manifest.get<std::string>())) {
        record.paths.emplace_back(manifest.get<std::string>());
      }
    }
  }
  const auto digests = parsed.find(kDigestsKey);
  if (digests != parsed.end() && digests->is_object()) {
    for (const auto& [manifest, digest] : digests->items()) {
      if (digest.is_string() && record.Holds(manifest)) {
        record.digests[manifest] = digest.get<std::string>();
      }
    }
  }
  const auto registry = parsed.find(kRegistryKey);
  if (registry != parsed.end() && registry->is_object()) {
    for (const auto& [key, value] : registry->items()) {
      if (value.is_string()) record.registryValues[key] = value.get<std::string>();
    }
  }
  return record;
}

bool InstallRecord::Holds(const std::filesystem::path& path) const {
  return std::find(paths.begin(), paths.end(), path) != paths.end();
}

std::optional<std::string> InstallRecord::DigestOf(const std::filesystem::path& path) const {
  const auto found = digests.find(path.string());
  if (found == digests.end()) return std::nullopt;
  return found->second;
}

void InstallRecord::Add(const std::filesystem::path& path, const std::string& digest) {
  if (!Holds(path)) paths.push_back(path);
  digests[path.string()] = digest;
}

void InstallRecord::Forget(const std::filesystem::path& path) {
  paths.erase(std::remove(paths.begin(), paths.end(), path), paths.end());
  digests.erase(path.string());
}

void InstallRecord::AddRegistryValue(const std::string& key, const std::string& value) {
  registryValues[key] = value;
}

void InstallRecord::ForgetRegistryValue(const std::string& key) { registryValues.erase(key); }

void InstallRecord::Save() const {
  if (Empty()) {
    std::error_code ignored;
    std::filesystem::remove(RecordPath(), ignored);
    return;
  }
  nlohmann::json manifests = nlohmann::json::array();
  for (const auto& path : paths) manifests.push_back(path.string());
  nlohmann::json record = {{kManifestsKey, manifests}, {kDigestsKey, digests}};
  // Only Windows records registry values; Linux records stay as they were.
  if (!registryValues.empty()) record[kRegistryKey] = registryValues;
  WriteFileAtomically(RecordPath(), IndentedJson(record));
}

std::string Sha256Of(const std::string& text) {
  platform::Sha256 hash;
  hash.Update(text.data(), text.size());
  return hash.FinishHex();
}

}  // namespace vn::cli

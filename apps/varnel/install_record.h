#pragma once

// What `varnel browser install` wrote: "browser-manifests.json" in the data
// root. {"manifests": ["/abs/path.json", ...], "sha256": {"/abs/path.json":
// "64 hex digits", ...}}: each manifest's path and the SHA-256 of the text
// written there, so a later install or uninstall touches a file only while it
// still holds that text. Records of older versions have no "sha256"; they
// keep working. On Windows also "registry": {"Software\\...": "C:\\...json"},
// each HKCU key whose default value install set and the value it set there.
// Main thread only.

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vn::cli {

inline constexpr const char* kInstalledManifestsFileName = "browser-manifests.json";

class InstallRecord {
 public:
  // The record in the data root; empty when there is none or it is unreadable.
  static InstallRecord Load();

  bool Empty() const { return paths.empty() && registryValues.empty(); }
  const std::vector<std::filesystem::path>& Paths() const { return paths; }
  bool Holds(const std::filesystem::path& path) const;
  // The digest written for path; nullopt when not recorded or recorded
  // without one (older records).
  std::optional<std::string> DigestOf(const std::filesystem::path& path) const;

  void Add(const std::filesystem::path& path, const std::string& digest);
  void Forget(const std::filesystem::path& path);

  // Registry keys, by key; the value is what install set.
  const std::map<std::string, std::string>& RegistryValues() const { return registryValues; }
  void AddRegistryValue(const std::string& key, const std::string& value);
  void ForgetRegistryValue(const std::string& key);

  // Writes the record through a temporary file; an empty record removes the
  // file. Throws std::runtime_error when it cannot be written.
  void Save() const;

 private:
  std::vector<std::filesystem::path> paths;
  std::map<std::string, std::string> digests;
  std::map<std::string, std::string> registryValues;
};

// SHA-256 of text as 64 lower-case hex digits.
std::string Sha256Of(const std::string& text);

}  // namespace vn::cli

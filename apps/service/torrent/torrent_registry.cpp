// index.json: one JSON array, one object per torrent with the members "id",
// "isFile", "paused", "savePath" and "source" (written in that sorted order).
// It holds no progress and no resume data; each start adds every listed torrent
// anew from its source. Readers accept members in any order and ignore unknown
// ones. The file is small and rewritten whole at every change.
#include "apps/service/torrent/torrent_registry.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <system_error>

#include "platform/file_replace.h"

namespace vn {
namespace {

using nlohmann::json;

// The string member name of element: absent gives fallback, another type gives
// nothing, so the caller can drop the element.
std::optional<std::string> StringMember(const json& element, const char* name,
                                        const std::string& fallback) {
  const auto found = element.find(name);
  if (found == element.end()) return fallback;
  if (!found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

std::optional<bool> BoolMember(const json& element, const char* name) {
  const auto found = element.find(name);
  if (found == element.end()) return false;
  if (!found->is_boolean()) return std::nullopt;
  return found->get<bool>();
}

std::optional<TorrentRecord> RecordFrom(const json& element) {
  if (!element.is_object()) return std::nullopt;
  const auto id = StringMember(element, "id", "");
  const auto savePath = StringMember(element, "savePath", "");
  const auto source = StringMember(element, "source", "");
  const auto isFile = BoolMember(element, "isFile");
  const auto paused = BoolMember(element, "paused");
  if (!id || !savePath || !source || !isFile || !paused) return std::nullopt;
  if (savePath->empty() || source->empty()) return std::nullopt;
  return TorrentRecord{*id, *savePath, *source, *isFile, *paused};
}

}  // namespace

std::string FormatTorrentRegistry(const std::vector<TorrentRecord>& records) {
  json list = json::array();
  for (const TorrentRecord& record : records) {
    list.push_back({{"id", record.id},
                    {"savePath", record.savePath},
                    {"source", record.source},
                    {"isFile", record.isFile},
                    {"paused", record.paused}});
  }
  return list.dump(2);
}

std::vector<TorrentRecord> ParseTorrentRegistry(std::istream& input) {
  json value;
  try {
    input >> value;
  } catch (const std::exception&) {
    return {};
  }
  std::vector<TorrentRecord> records;
  if (!value.is_array()) return records;
  for (const json& element : value) {
    if (auto record = RecordFrom(element)) records.push_back(std::move(*record));
  }
  return records;
}

std::vector<TorrentRecord> ReadTorrentRegistry(const std::filesystem::path& folder) {
  std::ifstream input(folder / kTorrentRegistryFileName, std::ios::binary);
  if (!input) return {};
  return ParseTorrentRegistry(input);
}

bool WriteTorrentRegistry(const std::filesystem::path& folder,
                          const std::vector<TorrentRecord>& records) {
  std::string text;
  try {
    text = FormatTorrentRegistry(records);
  } catch (const std::exception&) {
    return false;
  }
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  return platform::ReplaceFileContents(folder / kTorrentRegistryFileName, text);
}

}  // namespace vn

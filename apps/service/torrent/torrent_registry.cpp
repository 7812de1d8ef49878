// index.json: one JSON array, one object per torrent with the members "id",
// "isFile", "paused", "savePath" and "source" (written in that sorted order).
// It holds no progress and no resume data; each start adds every listed torrent
// anew from its source (and its resume file, when one was saved). Readers accept
// members in any order and ignore unknown ones. The file is small and rewritten
// whole at every change. A file that cannot be read is renamed aside as
// "index.json.broken-<UTC time>" before anything is written again, so no write
// ever replaces torrents that could not be read.
#include "apps/service/torrent/torrent_registry.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "apps/protocol/json_text.h"
#include "platform/file_replace.h"
#include "platform/set_aside.h"

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

// The elements of a top-level array that were complete before the text broke
// off (a truncated file keeps the torrents it still lists in full).
json CompleteElements(const std::string& text) {
  json elements = json::array();
  const json::parser_callback_t keepElements = [&elements](int depth, json::parse_event_t event,
                                                           json& parsed) {
    if (depth == 1 && event == json::parse_event_t::object_end) elements.push_back(parsed);
    return true;
  };
  // Only the elements matter; the value itself is discarded at the break.
  [[maybe_unused]] const json whole = json::parse(text, keepElements, false);
  return elements;
}

// False for an element that is not an object or holds a known member of the
// wrong type: text the file's writer cannot have meant, unlike an empty source.
bool Readable(const json& element) {
  if (!element.is_object()) return false;
  for (const char* name : {"id", "savePath", "source"}) {
    if (!StringMember(element, name, "")) return false;
  }
  return BoolMember(element, "isFile") && BoolMember(element, "paused");
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
    for (const std::string* text : {&record.id, &record.savePath, &record.source}) {
      if (!IsValidUtf8(*text)) throw std::invalid_argument("Torrent record is not UTF-8");
    }
    list.push_back({{"id", record.id},
                    {"savePath", record.savePath},
                    {"source", record.source},
                    {"isFile", record.isFile},
                    {"paused", record.paused}});
  }
  return IndentedJson(list);
}

TorrentRegistryContent ParseTorrentRegistryContent(std::istream& input) {
  TorrentRegistryContent content;
  const std::string text((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());
  json value;
  try {
    std::istringstream stream(text);
    stream >> value;
  } catch (const std::exception&) {
    content.damaged = true;
    value = CompleteElements(text);
  }
  if (!value.is_array()) {
    content.damaged = true;
    return content;
  }
  for (const json& element : value) {
    if (!Readable(element)) {
      content.damaged = true;
    } else if (auto record = RecordFrom(element)) {
      content.records.push_back(std::move(*record));
    }
  }
  return content;
}

std::vector<TorrentRecord> ParseTorrentRegistry(std::istream& input) {
  return ParseTorrentRegistryContent(input).records;
}

TorrentRegistryContent ReadTorrentRegistryContent(const std::filesystem::path& folder) {
  const std::filesystem::path file = folder / kTorrentRegistryFileName;
  std::ifstream input(file, std::ios::binary);
  if (!input) {
    std::error_code ignored;
    return TorrentRegistryContent{{}, std::filesystem::symlink_status(file, ignored).type() !=
                                          std::filesystem::file_type::not_found};
  }
  return ParseTorrentRegistryContent(input);
}

std::vector<TorrentRecord> ReadTorrentRegistry(const std::filesystem::path& folder) {
  return ReadTorrentRegistryContent(folder).records;
}

std::filesystem::path SetAsideBrokenRegistry(const std::filesystem::path& folder,
                                             std::chrono::system_clock::time_point now) {
  return platform::SetAsideBrokenFile(folder / kTorrentRegistryFileName, now);
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

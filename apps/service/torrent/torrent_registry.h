#pragma once

#include <filesystem>
#include <istream>
#include <string>
#include <vector>

namespace vn {

// One torrent as index.json lists it: enough to add it to a fresh session again.
struct TorrentRecord {
  std::string id;  // empty when the file gave none; the engine then makes one
  std::string savePath;
  std::string source;  // magnet URI or .torrent path, exactly as the client gave it
  bool isFile = false;
  bool paused = false;
};

// The file's name inside the torrents folder.
inline constexpr const char* kTorrentRegistryFileName = "index.json";

// The text of index.json for records, in the given order: a JSON array indented
// by 2 spaces, no newline at the end, "[]" when empty. Throws the JSON library's
// error for a string that is not UTF-8.
std::string FormatTorrentRegistry(const std::vector<TorrentRecord>& records);

// Reads the first JSON value of input and returns the usable elements. Never
// throws: invalid JSON or a value that is not an array give an empty list; an
// element that is not an object, has a member of the wrong type, or lacks a
// source or save path is left out. Text after the first value is not examined.
std::vector<TorrentRecord> ParseTorrentRegistry(std::istream& input);

// ParseTorrentRegistry of folder/index.json; empty when the file cannot be read.
std::vector<TorrentRecord> ReadTorrentRegistry(const std::filesystem::path& folder);

// Replaces folder/index.json with records (creating the folder when missing).
// The text goes to a temporary file in the same folder that is then renamed over
// the old one, so a crash leaves either the old list or the new one. Returns
// false when nothing could be written; the old file is then untouched.
bool WriteTorrentRegistry(const std::filesystem::path& folder,
                          const std::vector<TorrentRecord>& records);

}  // namespace vn

#pragma once

#include <chrono>
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
// by 2 spaces, no newline at the end, "[]" when empty. Throws
// std::invalid_argument for a record with text that is not valid UTF-8: written
// with U+FFFD, its path would name another folder or file at the next start.
std::string FormatTorrentRegistry(const std::vector<TorrentRecord>& records);

// What a read of index.json found. damaged: some of the file could not be read
// (not JSON, not an array, an element that is not an object or has a member of
// the wrong type, or a file that exists but cannot be opened); the usable
// records are still in records.
struct TorrentRegistryContent {
  std::vector<TorrentRecord> records;
  bool damaged = false;
};

// Reads the first JSON value of input and returns the usable elements. Never
// throws: invalid JSON or a value that is not an array give an empty list; an
// element that is not an object, has a member of the wrong type, or lacks a
// source or save path is left out. Text after the first value is not examined.
TorrentRegistryContent ParseTorrentRegistryContent(std::istream& input);
std::vector<TorrentRecord> ParseTorrentRegistry(std::istream& input);

// The same for folder/index.json; empty and undamaged when there is no file.
TorrentRegistryContent ReadTorrentRegistryContent(const std::filesystem::path& folder);
std::vector<TorrentRecord> ReadTorrentRegistry(const std::filesystem::path& folder);

// Renames a damaged folder/index.json to "index.json.broken-<UTC time>" (with
// "-2", "-3"... appended when that name is taken), so that no later write
// replaces what could not be read. Never renames over an existing file.
// Returns the new path; empty when the file could not be moved.
std::filesystem::path SetAsideBrokenRegistry(const std::filesystem::path& folder,
                                             std::chrono::system_clock::time_point now);

// Replaces folder/index.json with records (creating the folder when missing).
// The text goes to a temporary file in the same folder that is then renamed over
// the old one, so a crash leaves either the old list or the new one. Returns
// false when nothing could be written; the old file is then untouched.
bool WriteTorrentRegistry(const std::filesystem::path& folder,
                          const std::vector<TorrentRecord>& records);

}  // namespace vn

#pragma once

// The service requests that varnel's subcommands send, built from what the
// user typed. Checking and completing the arguments happens here, before
// anything is sent: relative folders and files are made absolute against the
// client's current folder, because the service runs in a folder of its own.
// Every function throws UsageError with a text for the user on bad input.

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace vn::cli {

struct AddOptions {
  std::string url;
  std::string outputFolder;  // empty: the service's default folder
  std::string fileName;      // empty: the service derives it from the URL
  std::optional<int> connections;
  std::string limit;   // a rate as typed ("2M"); empty: none
  std::string sha256;  // hex digest as typed; empty: none
  std::string referrer;
  std::string userAgent;
};

struct TorrentOptions {
  std::string source;  // a magnet URI or the path of a .torrent file
  std::string outputFolder;
};

// enqueue_download. Only http and https URLs are taken (magnets are pointed at
// `varnel torrent`), the file name must be a plain name, the digest 64 hex
// digits, the rate a positive human rate.
nlohmann::json EnqueueDownloadRequest(const AddOptions& options,
                                      const std::filesystem::path& currentFolder);

// enqueue_torrent. A source starting with "magnet:" is a magnet, anything else
// a .torrent file that must exist.
nlohmann::json EnqueueTorrentRequest(const TorrentOptions& options,
                                     const std::filesystem::path& currentFolder);

// list_downloads.
nlohmann::json ListDownloadsRequest();

// pause_download, resume_download, cancel_download, retry_download: the type
// given, with the id.
nlohmann::json ControlRequest(const std::string& type, const std::string& id);

// update_download_url; the URL as enqueue_download takes it.
nlohmann::json UpdateUrlRequest(const std::string& id, const std::string& url);

nlohmann::json DeleteRequest(const std::string& id, bool deleteFile);

// get_download_checksum.
nlohmann::json ChecksumRequest(const std::string& id);

// set_speed_limiter. rate is a human rate, or "off" (any case) to switch the
// limiter off.
nlohmann::json SpeedLimitRequest(const std::string& id, const std::string& rate);

// set_global_speed_limit, with rate as for SpeedLimitRequest.
nlohmann::json GlobalSpeedLimitRequest(const std::string& rate);

// folder made absolute against currentFolder, without "." and ".." parts or a
// trailing separator.
std::string AbsoluteFolder(const std::string& folder, const std::filesystem::path& currentFolder);

}  // namespace vn::cli

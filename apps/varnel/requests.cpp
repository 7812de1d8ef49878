#include "apps/varnel/requests.h"

#include <algorithm>
#include <cctype>

#include "apps/protocol/command_names.h"
#include "apps/protocol/json_text.h"
#include "apps/varnel/byte_units.h"
#include "apps/varnel/cli_errors.h"

namespace vn::cli {
namespace {

constexpr std::size_t kSha256HexDigits = 64;

bool StartsWithNoCase(const std::string& text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

std::int64_t RateOrUsageError(const std::string& text) {
  try {
    return ParseRate(text);
  } catch (const std::invalid_argument& error) {
    throw UsageError(error.what());
  }
}

void CheckFileName(const std::string& name) {
  if (name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\0') != std::string::npos) {
    throw UsageError("-O takes a plain file name, not '" + name + "'; choose the folder with -o");
  }
}

std::string CheckedSha256(const std::string& digest) {
  const bool hex = std::all_of(digest.begin(), digest.end(), [](char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
  });
  if (digest.size() != kSha256HexDigits || !hex) {
    throw UsageError("--sha256 takes 64 hexadecimal digits, not '" + digest + "'");
  }
  std::string lower = digest;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// Requests are written with U+FFFD for bytes that are not UTF-8, which would
// name another address, file or folder: such text is refused here instead.
nlohmann::json Utf8Only(nlohmann::json request) {
  for (const auto& [name, value] : request.items()) {
    if (value.is_string() && !IsValidUtf8(value.get_ref<const std::string&>())) {
      throw UsageError("the " + name + " given is not UTF-8 text, which the service cannot take");
    }
  }
  return request;
}

// Paths are made from and written as UTF-8 on every system (Windows would read
// a narrow text in the ANSI code page); text that is not UTF-8 is refused
// under its request member's name before it is converted.
std::filesystem::path Utf8Path(const char* member, const std::string& text) {
  Utf8Only({{member, text}});
  return std::u8string(text.begin(), text.end());
}

std::string Utf8Text(const std::filesystem::path& path) {
  const auto text = path.u8string();
  return std::string(text.begin(), text.end());
}

void RequireId(const std::string& id) {
  if (id.empty()) throw UsageError("a download id is required (see `varnel list`)");
  Utf8Only({{member::kId, id}});
}

// Only http and https URLs; magnets are pointed at `varnel torrent`.
void CheckHttpUrl(const std::string& url) {
  if (StartsWithNoCase(url, "magnet:")) {
    throw UsageError("magnet links are torrents; use `varnel torrent " + url + "`");
  }
  if (!StartsWithNoCase(url, "http://") && !StartsWithNoCase(url, "https://")) {
    throw UsageError("only http:// and https:// URLs can be downloaded, not '" + url + "'");
  }
}

}  // namespace

std::string AbsoluteFolder(const std::string& folder, const std::filesystem::path& currentFolder) {
  auto path = Utf8Path(member::kOutputPath, folder);
  if (path.is_relative()) path = currentFolder / path;
  path = path.lexically_normal();
  if (!path.has_filename() && path != path.root_path()) path = path.parent_path();
  return Utf8Text(path);
}

nlohmann::json EnqueueDownloadRequest(const AddOptions& options,
                                      const std::filesystem::path& currentFolder) {
  CheckHttpUrl(options.url);
  nlohmann::json request = {{member::kType, command::kEnqueueDownload},
                            {member::kUrl, options.url}};
  if (!options.outputFolder.empty()) {
    request[member::kOutputPath] = AbsoluteFolder(options.outputFolder, currentFolder);
  }
  if (!options.fileName.empty()) {
    CheckFileName(options.fileName);
    request[member::kFileName] = options.fileName;
  }
  if (options.connections) request[member::kConnectionCount] = *options.connections;
  if (!options.limit.empty()) {
    request[member::kUseSpeedLimiter] = true;
    request[member::kMaxSpeedBytesPerSecond] = RateOrUsageError(options.limit);
  }
  if (!options.sha256.empty()) {
    request[member::kChecksumAlgorithm] = "SHA256";
    request[member::kExpectedChecksum] = CheckedSha256(options.sha256);
  }
  if (!options.referrer.empty()) request[member::kReferrer] = options.referrer;
  if (!options.userAgent.empty()) request[member::kUserAgent] = options.userAgent;
  return Utf8Only(std::move(request));
}

nlohmann::json EnqueueTorrentRequest(const TorrentOptions& options,
                                     const std::filesystem::path& currentFolder) {
  if (options.source.empty()) throw UsageError("a magnet link or .torrent file is required");
  nlohmann::json request = {{member::kType, command::kEnqueueTorrent}};
  if (StartsWithNoCase(options.source, "magnet:")) {
    request[member::kMagnet] = options.source;
  } else {
    auto file = Utf8Path(member::kTorrentFilePath, options.source);
    if (file.is_relative()) file = currentFolder / file;
    file = file.lexically_normal();
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) {
      throw UsageError("no .torrent file at '" + Utf8Text(file) +
                       "' (a magnet link must start with magnet:)");
    }
    request[member::kTorrentFilePath] = Utf8Text(file);
  }
  if (!options.outputFolder.empty()) {
    request[member::kOutputPath] = AbsoluteFolder(options.outputFolder, currentFolder);
  }
  return Utf8Only(std::move(request));
}

nlohmann::json ListDownloadsRequest() { return {{member::kType, command::kListDownloads}}; }

nlohmann::json ControlRequest(const std::string& type, const std::string& id) {
  RequireId(id);
  return {{member::kType, type}, {member::kId, id}};
}

nlohmann::json UpdateUrlRequest(const std::string& id, const std::string& url) {
  RequireId(id);
  CheckHttpUrl(url);
  return Utf8Only({{member::kType, command::kUpdateDownloadUrl}, {member::kId, id}, {member::kUrl, url}});
}

nlohmann::json ChecksumRequest(const std::string& id) {
  return ControlRequest(command::kGetDownloadChecksum, id);
}

nlohmann::json DeleteRequest(const std::string& id, bool deleteFile) {
  RequireId(id);
  return {{member::kType, command::kDeleteDownload},
          {member::kId, id},
          {member::kDeleteFile, deleteFile}};
}

nlohmann::json SpeedLimitRequest(const std::string& id, const std::string& rate) {
  RequireId(id);
  auto request = GlobalSpeedLimitRequest(rate);
  request[member::kType] = command::kSetSpeedLimiter;
  request[member::kId] = id;
  return request;
}

nlohmann::json GlobalSpeedLimitRequest(const std::string& rate) {
  std::string lower = rate;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const bool off = lower == "off";
  return {{member::kType, command::kSetGlobalSpeedLimit},
          {member::kEnabled, !off},
          {member::kMaxSpeedBytesPerSecond, off ? 0 : RateOrUsageError(rate)}};
}

}  // namespace vn::cli

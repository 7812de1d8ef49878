#include "apps/service/core/enqueue_arguments.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <stdexcept>

#include "apps/service/engine/checksum.h"
#include "apps/service/engine/partial_files.h"
#include "platform/http.h"
#include "platform/locations.h"
#include "platform/process.h"

namespace vn {
namespace {

constexpr std::size_t kSha256HexDigits = 64;
constexpr std::size_t kMaxNameBytes = 255;
// An extension longer than this is no extension worth keeping whole.
constexpr std::size_t kMaxKeptExtensionBytes = 32;

bool IsUtf8Continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// text cut to at most bytes, at the start of a UTF-8 sequence.
std::string CutUtf8(const std::string& text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  while (bytes > 0 && IsUtf8Continuation(text[bytes])) --bytes;
  return text.substr(0, bytes);
}

}  // namespace

bool IsWellFormedChecksum(const std::string& expectedChecksum) {
  const std::string digest = NormalizeChecksum(expectedChecksum);
  if (digest.empty()) return true;
  if (digest.size() != kSha256HexDigits) return false;
  for (const char c : digest) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

bool IsSupportedChecksumAlgorithm(const std::string& algorithm) {
  std::string name;
  for (const char c : algorithm) name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name.empty() || name == "SHA256" || name == "SHA-256";
}

bool IsRequestableUrl(const std::string& url) {
  if (HasZeroByte(url)) return false;
  try {
    platform::MakeRequestTarget(url, "", "");
    return true;
  } catch (const std::runtime_error&) {
    return false;
  }
}

std::string ResolveOutputFolder(const std::string& outputPath) {
  const std::filesystem::path folder(outputPath);
  if (outputPath.empty()) return platform::DefaultDownloadFolder().string();
  if (folder.is_absolute()) return outputPath;
  if (outputPath == "~" || outputPath.rfind("~/", 0) == 0) {
    const auto home = platform::GetEnvironment("HOME");
    if (home && std::filesystem::path(*home).is_absolute()) {
      return (std::filesystem::path(*home) / outputPath.substr(outputPath.size() > 1 ? 2 : 1))
          .lexically_normal()
          .string();
    }
  }
  return (platform::DefaultDownloadFolder() / folder).lexically_normal().string();
}

bool FileNameFits(const std::string& fileName) {
  const std::filesystem::path path(fileName);
  for (const auto& part : path) {
    if (part.string().size() > kMaxNameBytes) return false;
  }
  return path.filename().string().size() <= kMaxFileNameBytes;
}

std::string FitFileName(const std::string& fileName, const std::string& suffix) {
  const auto lastPart = fileName.rfind('/') + 1;  // 0 without a sub-folder
  const std::string name = fileName.substr(lastPart);
  const auto dot = name.rfind('.');
  const bool hasExtension = dot != std::string::npos && dot > 0;
  std::string extension = hasExtension ? name.substr(dot) : "";
  std::string stem = hasExtension ? name.substr(0, dot) : name;
  if (stem.size() + suffix.size() + extension.size() > kMaxFileNameBytes &&
      extension.size() > kMaxKeptExtensionBytes) {
    stem += extension;
    extension.clear();
  }
  const std::size_t room =
      kMaxFileNameBytes - std::min(kMaxFileNameBytes, suffix.size() + extension.size());
  return fileName.substr(0, lastPart) + CutUtf8(stem, room) + suffix + extension;
}

}  // namespace vn

#include "apps/service/engine/checksum.h"

#include <fstream>
#include <memory>
#include <stdexcept>

#include "platform/sha256.h"

namespace vn {
namespace {

constexpr std::size_t kHashBufferBytes = 65536;

}  // namespace

std::string ComputeFileSha256(const std::filesystem::path& path, const HashProgress& progress) {
  platform::Sha256 hash;
  std::ifstream file(path, std::ios::binary);
  if (!file.is_open()) throw std::runtime_error("Failed to open file for checksum verification");

  const auto buffer = std::make_unique<char[]>(kHashBufferBytes);
  while (file) {
    file.read(buffer.get(), static_cast<std::streamsize>(kHashBufferBytes));
    const std::streamsize got = file.gcount();
    // A read error must not pass for the end of the file: the digest would
    // cover only part of it.
    if (file.bad()) throw std::runtime_error("Failed while hashing file");
    if (got < 1) break;
    hash.Update(buffer.get(), static_cast<std::size_t>(got));
    if (progress) progress(got);
  }
  return hash.FinishHex();
}

std::string NormalizeChecksum(const std::string& text) {
  std::string normal;
  normal.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case ' ':
      case '\t':
      case '\n':
      case '\v':
      case '\f':
      case '\r':
        continue;
      default:
        normal += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
  }
  return normal;
}

}  // namespace vn

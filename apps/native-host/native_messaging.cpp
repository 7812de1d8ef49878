#include "apps/native-host/native_messaging.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace vn {
namespace {

// The body is read in pieces, so a length prefix that lies costs memory only for
// the bytes that really arrive. Small enough that each refused or cut-short
// message does not zero a fresh megabyte; the string still grows geometrically.
constexpr std::size_t kReadChunkBytes = 64 * 1024;

bool ReadExactly(std::FILE* input, char* buffer, std::size_t count) {
  return std::fread(buffer, 1, count, input) == count;
}

// Reads and drops count bytes; false when the input ends first.
bool Discard(std::FILE* input, std::uint64_t count) {
  std::vector<char> buffer(kReadChunkBytes);
  while (count > 0) {
    const std::size_t step =
        static_cast<std::size_t>(std::min<std::uint64_t>(count, buffer.size()));
    if (!ReadExactly(input, buffer.data(), step)) return false;
    count -= step;
  }
  return true;
}

}  // namespace

std::string ReadNativeMessage(std::FILE* input) {
  std::uint32_t length = 0;
  char prefix[sizeof length];
  if (!ReadExactly(input, prefix, sizeof prefix)) return {};
  std::memcpy(&length, prefix, sizeof length);
  if (length == 0) return {};

  if (length > kMaxNativeMessageBytes) {
    if (!Discard(input, length)) return {};
    throw std::length_error("Native message too large");
  }

  std::string body;
  while (body.size() < length) {
    const std::size_t step = std::min<std::size_t>(length - body.size(), kReadChunkBytes);
    const std::size_t offset = body.size();
    body.resize(offset + step);
    // A message cut short has no meaning; the browser has gone, so end quietly.
    if (!ReadExactly(input, body.data() + offset, step)) return {};
  }
  return body;
}

void WriteNativeMessage(const std::string& text, std::FILE* output) {
  const auto length = static_cast<std::uint32_t>(text.size());
  char prefix[sizeof length];
  std::memcpy(prefix, &length, sizeof length);
  if (std::fwrite(prefix, 1, sizeof prefix, output) != sizeof prefix ||
      std::fwrite(text.data(), 1, text.size(), output) != text.size() || std::fflush(output) != 0) {
    throw std::runtime_error("Failed to write native message");
  }
}

}  // namespace vn

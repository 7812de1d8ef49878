// SHA-256 over BCrypt (CNG): provider, object and digest lengths, hash object.
#include <windows.h>
#include <bcrypt.h>

#include <stdexcept>
#include <vector>

#include "platform/sha256.h"

namespace vn::platform {
namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

// Scope-bound owners: the provider and the hash object are released on every
// path, exceptions included.
class AlgorithmHandle {
 public:
  AlgorithmHandle() = default;
  ~AlgorithmHandle() {
    if (handle != nullptr) BCryptCloseAlgorithmProvider(handle, 0);
  }
  AlgorithmHandle(const AlgorithmHandle&) = delete;
  AlgorithmHandle& operator=(const AlgorithmHandle&) = delete;
  BCRYPT_ALG_HANDLE handle = nullptr;
};

class HashHandle {
 public:
  HashHandle() = default;
  ~HashHandle() {
    if (handle != nullptr) BCryptDestroyHash(handle);
  }
  HashHandle(const HashHandle&) = delete;
  HashHandle& operator=(const HashHandle&) = delete;
  BCRYPT_HASH_HANDLE handle = nullptr;
};

DWORD QueryLength(BCRYPT_ALG_HANDLE algorithm, LPCWSTR property, const char* failure) {
  DWORD value = 0;
  ULONG written = 0;
  if (!Succeeded(BCryptGetProperty(algorithm, property, reinterpret_cast<PUCHAR>(&value),
                                   sizeof value, &written, 0))) {
    throw std::runtime_error(failure);
  }
  return value;
}

}  // namespace

struct Sha256::Context {
  AlgorithmHandle algorithm;
  std::vector<UCHAR> object;  // must outlive the hash object that lives in it
  std::vector<UCHAR> digest;
  HashHandle hash;            // declared last: destroyed before object
  bool finished = false;
};

Sha256::Sha256() : context(std::make_unique<Context>()) {
  if (!Succeeded(BCryptOpenAlgorithmProvider(&context->algorithm.handle, BCRYPT_SHA256_ALGORITHM,
                                             nullptr, 0))) {
    context->algorithm.handle = nullptr;
    throw std::runtime_error("Failed to open SHA-256 provider");
  }
  context->object.assign(QueryLength(context->algorithm.handle, BCRYPT_OBJECT_LENGTH,
                                     "Failed to query SHA-256 object length"),
                         0);
  context->digest.assign(QueryLength(context->algorithm.handle, BCRYPT_HASH_LENGTH,
                                     "Failed to query SHA-256 hash length"),
                         0);
  if (!Succeeded(BCryptCreateHash(context->algorithm.handle, &context->hash.handle,
                                  context->object.data(),
                                  static_cast<ULONG>(context->object.size()), nullptr, 0, 0))) {
    context->hash.handle = nullptr;
    throw std::runtime_error("Failed to create SHA-256 hash");
  }
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size) {
  if (context->finished) throw std::runtime_error("Failed while hashing file");
  auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
  // BCryptHashData takes a 32-bit count; larger inputs go in pieces.
  constexpr std::size_t kPiece = 1u << 30;
  while (size > 0) {
    const std::size_t piece = size < kPiece ? size : kPiece;
    if (!Succeeded(BCryptHashData(context->hash.handle, bytes, static_cast<ULONG>(piece), 0))) {
      throw std::runtime_error("Failed while hashing file");
    }
    bytes += piece;
    size -= piece;
  }
}

std::string Sha256::FinishHex() {
  if (context->finished ||
      !Succeeded(BCryptFinishHash(context->hash.handle, context->digest.data(),
                                  static_cast<ULONG>(context->digest.size()), 0))) {
    throw std::runtime_error("Failed to finalize SHA-256 hash");
  }
  context->finished = true;
  static constexpr char kHexDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(context->digest.size() * 2);
  for (const UCHAR byte : context->digest) {
    text += kHexDigits[byte >> 4];
    text += kHexDigits[byte & 0x0f];
  }
  return text;
}

}  // namespace vn::platform

#include <openssl/evp.h>

#include <stdexcept>

#include "platform/sha256.h"

namespace vn::platform {
namespace {

struct DigestContextDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextDeleter>;

}  // namespace

struct Sha256::Context {
  DigestContext digest;
  bool finished = false;  // EVP contexts must not be used after final
};

Sha256::Sha256() : context(std::make_unique<Context>()) {
  context->digest.reset(EVP_MD_CTX_new());
  const EVP_MD* algorithm = EVP_sha256();
  if (!context->digest || algorithm == nullptr) {
    throw std::runtime_error("Failed to open SHA-256 provider");
  }
  if (EVP_DigestInit_ex(context->digest.get(), algorithm, nullptr) != 1) {
    throw std::runtime_error("Failed to create SHA-256 hash");
  }
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size) {
  if (context->finished) throw std::runtime_error("Failed while hashing file");
  if (size == 0) return;
  if (EVP_DigestUpdate(context->digest.get(), data, size) != 1) {
    throw std::runtime_error("Failed while hashing file");
  }
}

std::string Sha256::FinishHex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (context->finished || EVP_DigestFinal_ex(context->digest.get(), digest, &length) != 1) {
    throw std::runtime_error("Failed to finalize SHA-256 hash");
  }
  context->finished = true;
  static constexpr char kHexDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    text += kHexDigits[digest[i] >> 4];
    text += kHexDigits[digest[i] & 0x0f];
  }
  return text;
}

}  // namespace vn::platform

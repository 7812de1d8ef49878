#include "tests/support/test_environment.h"

#ifndef _WIN32
#include <openssl/evp.h>
#else
#include "platform/sha256.h"
#endif

#include <atomic>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace vn::test {
namespace {

std::filesystem::path& MutableRoot() {
  static std::filesystem::path root;
  return root;
}

std::atomic<int> folderCounter{0};

}  // namespace

void SetTestRoot(const std::filesystem::path& root) { MutableRoot() = root; }

const std::filesystem::path& TestRoot() { return MutableRoot(); }

TempFolder::TempFolder() {
  folder = TestRoot() / "tmp" / ("t" + std::to_string(folderCounter.fetch_add(1)));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

#ifndef _WIN32
std::string Sha256Hex(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
  static const char* kHex = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text.push_back(kHex[digest[i] >> 4]);
    text.push_back(kHex[digest[i] & 15]);
  }
  return text;
}
#else
// The Windows test build has no OpenSSL; BCrypt is checked against known
// digests by the SHA-256 tests themselves.
std::string Sha256Hex(const std::string& bytes) {
  platform::Sha256 hash;
  hash.Update(bytes.data(), bytes.size());
  return hash.FinishHex();
}
#endif

std::string MakeContent(std::size_t size, unsigned seed) {
  std::mt19937_64 generator(seed);
  std::string bytes(size, '\0');
  std::size_t i = 0;
  while (i < size) {
    std::uint64_t value = generator();
    for (int b = 0; b < 8 && i < size; ++b, ++i) bytes[i] = static_cast<char>(value >> (8 * b));
  }
  return bytes;
}

}  // namespace vn::test

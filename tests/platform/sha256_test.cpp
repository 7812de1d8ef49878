#include "platform/sha256.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_environment.h"

namespace vn::test {
namespace {

std::string Digest(const std::string& bytes) {
  platform::Sha256 hash;
  hash.Update(bytes.data(), bytes.size());
  return hash.FinishHex();
}

TEST(Sha256, EmptyInputHasTheKnownDigest) {
  platform::Sha256 hash;
  EXPECT_EQ(hash.FinishHex(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(Sha256, AbcHasTheKnownDigest) {
  EXPECT_EQ(Digest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Sha256, IncrementalEqualsOneShot) {
  const std::string content = MakeContent(65536 * 3 + 1, 3);
  platform::Sha256 hash;
  for (std::size_t offset = 0; offset < content.size(); offset += 65536) {
    const std::size_t size = std::min<std::size_t>(65536, content.size() - offset);
    hash.Update(content.data() + offset, size);
  }
  hash.Update(content.data(), 0);
  const std::string incremental = hash.FinishHex();
  EXPECT_EQ(incremental, Digest(content));
  EXPECT_EQ(incremental, Sha256Hex(content));
}

TEST(Sha256, SecondFinishIsRefused) {
  platform::Sha256 hash;
  hash.FinishHex();
  try {
    hash.FinishHex();
    ADD_FAILURE() << "finished twice";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Failed to finalize SHA-256 hash");
  }
}

}  // namespace
}  // namespace vn::test

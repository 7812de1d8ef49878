#include "apps/service/engine/checksum.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/test_environment.h"

namespace vn {
namespace {

TEST(Checksum, EmptyFileHasDigestOfEmptyInputWithoutProgress) {
  test::TempFolder folder;
  test::WriteFile(folder.path() / "empty", "");
  int calls = 0;
  EXPECT_EQ(ComputeFileSha256(folder.path() / "empty", [&](std::int64_t) { ++calls; }),
            test::Sha256Hex(""));
  EXPECT_EQ(calls, 0);
}

TEST(Checksum, HashesInChunksOf64KiB) {
  test::TempFolder folder;
  const std::string content = test::MakeContent(65537);
  test::WriteFile(folder.path() / "data", content);
  std::vector<std::int64_t> chunks;
  EXPECT_EQ(ComputeFileSha256(folder.path() / "data",
                              [&](std::int64_t bytes) { chunks.push_back(bytes); }),
            test::Sha256Hex(content));
  EXPECT_EQ(chunks, (std::vector<std::int64_t>{65536, 1}));
}

TEST(Checksum, MissingFileCannotBeOpened) {
  test::TempFolder folder;
  try {
    ComputeFileSha256(folder.path() / "absent", nullptr);
    FAIL() << "no error";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Failed to open file for checksum verification");
  }
}

TEST(Checksum, ReadErrorIsNotMistakenForTheEnd) {
  // A directory opens for reading on Linux, but every read fails.
  test::TempFolder folder;
  try {
    ComputeFileSha256(folder.path(), nullptr);
    FAIL() << "no error";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Failed while hashing file");
  }
}

TEST(Checksum, NormalizeRemovesWhiteSpaceAndLowersCapitals) {
  EXPECT_EQ(NormalizeChecksum(" AB cd\tEF\n01\r\v\f"), "abcdef01");
  EXPECT_EQ(NormalizeChecksum("SHA256:Ab"), "sha256:ab");
  EXPECT_EQ(NormalizeChecksum("\xC3\x84x"), "\xC3\x84x");  // UTF-8 passes unchanged
}

}  // namespace
}  // namespace vn

#include "apps/service/torrent/torrent_registry.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/file_size_limit.h"
#include "tests/support/test_environment.h"

namespace vn {
namespace {

std::vector<TorrentRecord> Parse(const std::string& text) {
  std::istringstream input(text);
  return ParseTorrentRegistry(input);
}

const char* const kValidElement =
    R"({"id":"tor_1_0","savePath":"/dl","source":"magnet:?xt=urn:btih:aa","isFile":false,"paused":true})";

TEST(TorrentRegistryFormat, WritesSortedMembersIndentedWithoutTrailingNewline) {
  const std::string text = FormatTorrentRegistry({
      {"tor_1733470000123_0", "/home/u/Downloads", "magnet:?xt=urn:btih:abc", false, true},
      {"tor_1733470000125_1", "/srv/d\xC3\xA9p\xC3\xB4t", "/tmp/a.torrent", true, false},
  });
  EXPECT_EQ(text,
            "[\n"
            "  {\n"
            "    \"id\": \"tor_1733470000123_0\",\n"
            "    \"isFile\": false,\n"
            "    \"paused\": true,\n"
            "    \"savePath\": \"/home/u/Downloads\",\n"
            "    \"source\": \"magnet:?xt=urn:btih:abc\"\n"
            "  },\n"
            "  {\n"
            "    \"id\": \"tor_1733470000125_1\",\n"
            "    \"isFile\": true,\n"
            "    \"paused\": false,\n"
            "    \"savePath\": \"/srv/d\xC3\xA9p\xC3\xB4t\",\n"
            "    \"source\": \"/tmp/a.torrent\"\n"
            "  }\n"
            "]");
}

TEST(TorrentRegistryFormat, EmptyRegistryIsEmptyArray) {
  EXPECT_EQ(FormatTorrentRegistry({}), "[]");
}

TEST(TorrentRegistryFormat, RoundTripKeepsEveryField) {
  const std::vector<TorrentRecord> records = {
      {"tor_5_0", "C:\\Users\\Public\\Downloads", "magnet:?xt=urn:btih:ff&dn=a \"b\"", false, true},
      {"custom", "/data/\xE2\x82\xAC", "/t/\xE2\x82\xAC.torrent", true, false},
  };
  const std::vector<TorrentRecord> parsed = Parse(FormatTorrentRegistry(records));
  ASSERT_EQ(parsed.size(), records.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(parsed[i].id, records[i].id);
    EXPECT_EQ(parsed[i].savePath, records[i].savePath);
    EXPECT_EQ(parsed[i].source, records[i].source);
    EXPECT_EQ(parsed[i].isFile, records[i].isFile);
    EXPECT_EQ(parsed[i].paused, records[i].paused);
  }
}

TEST(TorrentRegistryParse, AcceptsAnyMemberOrderAndIgnoresUnknownMembers) {
  const auto records = Parse(
      R"([{"paused":true,"extra":[1,2],"source":"s","isFile":true,"savePath":"p","id":"x"}])");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].id, "x");
  EXPECT_TRUE(records[0].isFile);
  EXPECT_TRUE(records[0].paused);
}

TEST(TorrentRegistryParse, MissingFlagsDefaultToFalseAndMissingIdToEmpty) {
  const auto records = Parse(R"([{"savePath":"p","source":"s"}])");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].id, "");
  EXPECT_FALSE(records[0].isFile);
  EXPECT_FALSE(records[0].paused);
}

TEST(TorrentRegistryParse, BadDocumentsLoadNothing) {
  EXPECT_TRUE(Parse("").empty());
  EXPECT_TRUE(Parse("not json").empty());
  EXPECT_TRUE(Parse("[{\"savePath\":").empty());
  EXPECT_TRUE(Parse(std::string("{\"a\":") + kValidElement + "}").empty());
  EXPECT_TRUE(Parse(std::string("// note\n[") + kValidElement + "]").empty());
}

TEST(TorrentRegistryParse, TrailingTextAfterTheArrayIsIgnored) {
  const auto records = Parse(std::string("[") + kValidElement + "] trailing {garbage");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].id, "tor_1_0");
}

TEST(TorrentRegistryParse, BadElementsAreSkippedAndTheRestLoads) {
  const std::string text =
      std::string("[") + "42, \"text\", null, [1], " + R"({"id":"a","savePath":5,"source":"s"},)" +
      R"({"id":"b","savePath":"p","source":["s"]},)" + R"({"id":7,"savePath":"p","source":"s"},)" +
      R"({"id":"c","savePath":"p","source":"s","isFile":"yes"},)" +
      R"({"id":"d","savePath":"p","source":"s","paused":1},)" +
      R"({"id":"e","savePath":"","source":"s"},)" + R"({"id":"f","savePath":"p"},)" +
      kValidElement + "]";
  const auto records = Parse(text);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].id, "tor_1_0");
}

TEST(TorrentRegistryFile, WriteThenReadRoundTripsAndLeavesNoTemporaryFile) {
  test::TempFolder folder;
  const std::filesystem::path torrents = folder.path() / "nested" / "torrents";
  ASSERT_TRUE(WriteTorrentRegistry(torrents, {{"tor_9_9", "/p", "magnet:?x", false, true}}));
  const auto records = ReadTorrentRegistry(torrents);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].id, "tor_9_9");
  EXPECT_TRUE(records[0].paused);
  for (const auto& item : std::filesystem::directory_iterator(torrents)) {
    EXPECT_EQ(item.path().filename(), "index.json");
  }
}

TEST(TorrentRegistryFile, MissingFileReadsAsEmpty) {
  test::TempFolder folder;
  EXPECT_TRUE(ReadTorrentRegistry(folder.path()).empty());
}

TEST(TorrentRegistryFile, FailedWriteKeepsTheEarlierList) {
  test::TempFolder folder;
  ASSERT_TRUE(WriteTorrentRegistry(folder.path(), {{"tor_1_0", "/p", "magnet:?x", false, false}}));
  const std::string before = test::ReadFile(folder.path() / "index.json");
  {
    // The new content cannot be written whole.
    test::FileSizeLimit limit(1);
    EXPECT_FALSE(WriteTorrentRegistry(folder.path(), {}));
  }
  EXPECT_EQ(test::ReadFile(folder.path() / "index.json"), before);
}

TEST(TorrentRegistryFile, NonUtf8TextIsNotWrittenAndKeepsTheEarlierList) {
  test::TempFolder folder;
  ASSERT_TRUE(WriteTorrentRegistry(folder.path(), {{"tor_1_0", "/p", "magnet:?x", false, false}}));
  const std::string before = test::ReadFile(folder.path() / "index.json");
  EXPECT_FALSE(
      WriteTorrentRegistry(folder.path(), {{"tor_2_0", "/\xFF", "magnet:?y", false, false}}));
  EXPECT_EQ(test::ReadFile(folder.path() / "index.json"), before);
}

}  // namespace
}  // namespace vn

#include <string>

#include "tests/torrent/loopback_seeder.h"
#include "tests/varnel/varnel_fixture.h"

namespace vn::test {
namespace {

using VarnelTorrents = VarnelTest;

TEST_F(VarnelTorrents, MagnetWithWaitDownloadsTheSeededFileAndExitsZero) {
  TempFolder seeds;
  TempFolder work;
  const std::string content = MakeContent(256 * 1024, 11);
  LoopbackSeeder seeder(seeds.path(), "seeded.bin", content);

  const auto result =
      RunVarnel({"torrent", seeder.Magnet(), "-o", "torrents", "--wait"}, work.path());

  EXPECT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_EQ(FirstLine(result.output).rfind("tor_", 0), 0u) << result.output;
  EXPECT_FALSE(HasControlCharacters(result.output)) << result.output;
  EXPECT_EQ(Sha256Hex(ReadFile(work.path() / "torrents" / "seeded.bin")), Sha256Hex(content));
}

TEST_F(VarnelTorrents, TorrentFileIsReadByTheServiceFromAnAbsolutePath) {
  TempFolder work;
  const auto torrent = MakeTorrentFile(work.path(), "local.bin", MakeContent(64 * 1024, 12));
  // Relative to varnel's folder; the service runs elsewhere and gets it absolute.
  const auto result = RunVarnel({"torrent", torrent.filename().string()}, work.path());
  EXPECT_EQ(result.exitCode, 0) << result.errors;
  const std::string id = FirstLine(result.output);
  ASSERT_EQ(id.rfind("tor_", 0), 0u) << result.output;
  EXPECT_EQ(TaskOf(id)["url"], torrent.string());

  const auto missing = RunVarnel({"torrent", "missing.torrent"}, work.path());
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.errors.find("no .torrent file at"), std::string::npos) << missing.errors;

  WriteFile(work.path() / "garbage.torrent", "not bencoded");
  const auto garbage = RunVarnel({"torrent", "garbage.torrent"}, work.path());
  EXPECT_EQ(garbage.exitCode, 4);
  EXPECT_EQ(garbage.errors.rfind("varnel: Could not read .torrent file: ", 0), 0u)
      << garbage.errors;
}

}  // namespace
}  // namespace vn::test

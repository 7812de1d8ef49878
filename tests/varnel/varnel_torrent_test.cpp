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

// A torrent paused or cancelled from another shell ends the wait as an HTTP
// download's does; before that, the wait never shows it Paused.
TEST_F(VarnelTorrents, WaitEndsWhenTheTorrentIsPausedOrCancelled) {
  TempFolder work;
  char digit = 'c';
  for (const std::string verb : {"pause", "cancel"}) {
    ClientProcess waiting({"torrent", "magnet:?xt=urn:btih:" + std::string(40, digit++), "-o",
                           "torrents", "--wait"},
                          work.path());
    ASSERT_TRUE(waiting.WaitForOutput("\ntor_", std::chrono::seconds(20))) << waiting.Output();
    const std::string id = FirstLine(waiting.Output());
    ASSERT_EQ(RunVarnel({verb, id}).exitCode, 0) << verb;
    const auto result = waiting.Finish(std::chrono::seconds(20));

    EXPECT_EQ(result.exitCode, 1) << verb << result.errors;
    EXPECT_EQ(result.errors, "varnel: download " + id + " was paused (resume it with `varnel resume " +
                                 id + "`)\n");
    // The progress lines before the pause, then the one that shows it.
    const std::string before = result.output.substr(0, result.output.rfind('\n', result.output.size() - 2));
    EXPECT_EQ(before.find(" Paused"), std::string::npos) << result.output;
  }
}

}  // namespace
}  // namespace vn::test

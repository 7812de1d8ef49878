#include "apps/varnel/requests.h"

#include <gtest/gtest.h>

#include "apps/varnel/cli_errors.h"
#include "tests/support/test_environment.h"

namespace vn::cli {
namespace {

const std::filesystem::path kHere = "/home/user/work";

// A path as this system writes it (backslashes on Windows).
std::string Native(const char* path) { return std::filesystem::path(path).make_preferred().string(); }

std::string UsageErrorOf(const AddOptions& options) {
  try {
    EnqueueDownloadRequest(options, kHere);
  } catch (const UsageError& error) {
    return error.what();
  }
  return "accepted";
}

TEST(Requests, PlainAddSendsOnlyTheUrl) {
  AddOptions options;
  options.url = "https://example.test/file.zip";
  EXPECT_EQ(EnqueueDownloadRequest(options, kHere).dump(),
            R"({"type":"enqueue_download","url":"https://example.test/file.zip"})");
}

TEST(Requests, AddCarriesEveryOptionUnderTheServicesNames) {
  AddOptions options;
  options.url = "http://example.test/a.bin";
  options.outputFolder = "out/../downloads/";
  options.fileName = "b.bin";
  options.connections = 4;
  options.limit = "500K";
  options.sha256 = std::string(64, 'A');
  options.referrer = "http://example.test/";
  options.userAgent = "agent/1";
  const auto request = EnqueueDownloadRequest(options, kHere);
  EXPECT_EQ(request["outputPath"], Native("/home/user/work/downloads"));
  EXPECT_EQ(request["fileName"], "b.bin");
  EXPECT_EQ(request["connectionCount"], 4);
  EXPECT_EQ(request["useSpeedLimiter"], true);
  EXPECT_EQ(request["maxSpeedBytesPerSecond"], 512000);
  EXPECT_EQ(request["checksumAlgorithm"], "SHA256");
  EXPECT_EQ(request["expectedChecksum"], std::string(64, 'a'));
  EXPECT_EQ(request["referrer"], "http://example.test/");
  EXPECT_EQ(request["userAgent"], "agent/1");
}

TEST(Requests, AbsoluteFoldersStayAsGiven) {
  EXPECT_EQ(AbsoluteFolder("/srv/files/", kHere), Native("/srv/files"));
  EXPECT_EQ(AbsoluteFolder(".", kHere), Native("/home/user/work"));
  EXPECT_EQ(AbsoluteFolder("/", kHere), Native("/"));
}

TEST(Requests, AddRefusesWhatTheServiceCouldNotUse) {
  AddOptions options;
  options.url = "magnet:?xt=urn:btih:abc";
  EXPECT_EQ(UsageErrorOf(options),
            "magnet links are torrents; use `varnel torrent magnet:?xt=urn:btih:abc`");
  options.url = "ftp://example.test/x";
  EXPECT_EQ(UsageErrorOf(options),
            "only http:// and https:// URLs can be downloaded, not 'ftp://example.test/x'");

  options.url = "http://example.test/x";
  options.fileName = "../x";
  EXPECT_EQ(UsageErrorOf(options),
            "-O takes a plain file name, not '../x'; choose the folder with -o");
  options.fileName.clear();

  // Written on, the bytes would become U+FFFD: another folder than the one named.
  options.outputFolder = "/tmp/\xff";
  EXPECT_EQ(UsageErrorOf(options),
            "the outputPath given is not UTF-8 text, which the service cannot take");
  options.outputFolder.clear();

  options.sha256 = "abc";
  EXPECT_EQ(UsageErrorOf(options), "--sha256 takes 64 hexadecimal digits, not 'abc'");
  options.sha256 = std::string(63, 'a') + "g";
  EXPECT_NE(UsageErrorOf(options), "accepted");
  options.sha256.clear();

  for (const char* rate : {"0", "-1K", "fast", "99999999999T"}) {
    options.limit = rate;
    EXPECT_NE(UsageErrorOf(options), "accepted") << rate;
  }
}

TEST(Requests, TorrentsAreMagnetsOrExistingFilesMadeAbsolute) {
  TorrentOptions magnet;
  magnet.source = "magnet:?xt=urn:btih:abc";
  magnet.outputFolder = "t";
  EXPECT_EQ(EnqueueTorrentRequest(magnet, kHere).dump(), nlohmann::json({{"magnet", "magnet:?xt=urn:btih:abc"},
                                            {"outputPath", Native("/home/user/work/t")},
                                            {"type", "enqueue_torrent"}})
                                .dump());

  test::TempFolder folder;
  test::WriteFile(folder.path() / "x.torrent", "d4:infod4:name1:xee");
  TorrentOptions file;
  file.source = "x.torrent";
  const auto request = EnqueueTorrentRequest(file, folder.path());
  EXPECT_EQ(request["torrentFilePath"], (folder.path() / "x.torrent").string());
  EXPECT_FALSE(request.contains("magnet"));

  file.source = "missing.torrent";
  EXPECT_THROW(EnqueueTorrentRequest(file, folder.path()), UsageError);
}

TEST(Requests, ControlRequestsNeedAnId) {
  EXPECT_EQ(ControlRequest("pause_download", "dl_1").dump(),
            R"({"id":"dl_1","type":"pause_download"})");
  EXPECT_THROW(ControlRequest("pause_download", ""), UsageError);
  EXPECT_THROW(ControlRequest("pause_download", "dl_\xC0\xAF"), UsageError);
  EXPECT_EQ(DeleteRequest("dl_1", true).dump(),
            R"({"deleteFile":true,"id":"dl_1","type":"delete_download"})");
}

TEST(Requests, LimitTakesARateOrOff) {
  EXPECT_EQ(SpeedLimitRequest("dl_1", "2M").dump(),
            R"({"enabled":true,"id":"dl_1","maxSpeedBytesPerSecond":2097152,)"
            R"("type":"set_speed_limiter"})");
  EXPECT_EQ(SpeedLimitRequest("dl_1", "OFF").dump(),
            R"({"enabled":false,"id":"dl_1","maxSpeedBytesPerSecond":0,)"
            R"("type":"set_speed_limiter"})");
  EXPECT_THROW(SpeedLimitRequest("dl_1", "0"), UsageError);
  EXPECT_THROW(SpeedLimitRequest("dl_1", "unlimited"), UsageError);
}

}  // namespace
}  // namespace vn::cli

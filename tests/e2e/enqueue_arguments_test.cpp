#include <sys/stat.h>

#include "tests/e2e/download_fixture.h"

namespace vn::test {
namespace {

namespace fs = std::filesystem;
using EnqueueArguments = DownloadTest;

TEST_F(EnqueueArguments, WhatCannotWorkIsRefusedBeforeAnythingIsStored) {
  const std::string tooLong(247, 'n');
  struct Case {
    nlohmann::json request;
    std::string error;
  };
  const std::string digest(64, 'a');
  const std::vector<Case> cases = {
      {{{"url", "javascript:alert(1)"}}, "Invalid download URL"},
      {{{"url", "file:///etc/passwd"}}, "Invalid download URL"},
      {{{"url", "ftp://127.0.0.1/f.bin"}}, "Invalid download URL"},
      {{{"url", "data:text/plain,abc"}}, "Invalid download URL"},
      {{{"url", "about:blank"}}, "Invalid download URL"},
      {{{"url", "chrome://settings"}}, "Invalid download URL"},
      {{{"url", "http://"}}, "Invalid download URL"},
      {{{"url", "f.bin"}}, "Invalid download URL"},
      {{{"checksumAlgorithm", "MD5"}, {"expectedChecksum", digest}},
       "Unsupported checksum algorithm"},
      {{{"checksumAlgorithm", "sha1"}}, "Unsupported checksum algorithm"},
      {{{"expectedChecksum", "abc"}}, "Invalid checksum"},
      {{{"expectedChecksum", std::string(64, 'g')}}, "Invalid checksum"},
      {{{"expectedChecksum", std::string(65, 'a')}}, "Invalid checksum"},
      {{{"fileName", tooLong}}, "File name too long"},
      {{{"fileName", "sub/" + std::string(255, 'n')}}, "File name too long"},
      {{{"fileName", std::string(256, 'd') + "/x.bin"}}, "File name too long"},
  };
  for (const auto& [fields, error] : cases) {
    nlohmann::json request = fields;
    request["type"] = "enqueue_download";
    if (!request.contains("url")) request["url"] = server.Url("/f.bin");
    request["outputPath"] = downloads.path().string();
    EXPECT_EQ(Send(request), (nlohmann::json{{"ok", false}, {"error", error}})) << fields;
  }
  EXPECT_EQ(List(*service), nlohmann::json::array());
  EXPECT_TRUE(fs::is_empty(downloads.path()));

  // Spaces and capitals are fine; 246 bytes leave room for the segment folder.
  ResourceOptions resource;
  resource.body = "abc";
  server.SetResource("/f.bin", resource);
  const auto id =
      Enqueue({{"url", server.Url("/f.bin")},
               {"fileName", std::string(246, 'n')},
               {"checksumAlgorithm", "sha-256"},
               {"expectedChecksum",
                "BA7816BF 8F01CFEA 414140DE 5DAE2223 B00361A3 96177A9C B410FF61 F20015AD"}});
  WaitForStatus(id, "Completed");
}

TEST_F(EnqueueArguments, DerivedNamesAndRelativeFoldersAreMadeToFit) {
  const fs::path defaults(std::getenv("XDG_DOWNLOAD_DIR"));
  const std::string longStem(300, 'x');
  struct Case {
    nlohmann::json request;
    std::string fileName;
    std::string outputPath;
  };
  // Nothing listens on port 9 of loopback: the runs fail, the names stay.
  const std::vector<Case> cases = {
      {{{"url", "http://127.0.0.1:9/" + longStem + ".iso"}, {"outputPath", "rel/out"}},
       std::string(242, 'x') + ".iso",
       (defaults / "rel/out").string()},
      {{{"url", "http://127.0.0.1:9/" + std::string(100, 'y') + "\xC3\xBC" + longStem},
        {"outputPath", "~/in-home"}},
       std::string(100, 'y') + "\xC3\xBC" + std::string(144, 'x'),
       (fs::path(std::getenv("HOME")) / "in-home").string()},
  };
  for (const auto& [fields, fileName, outputPath] : cases) {
    nlohmann::json request = fields;
    request["type"] = "enqueue_download";
    const auto answer = Send(request);
    ASSERT_EQ(answer["ok"], true) << answer;
    const auto task = Find(answer["id"]);
    EXPECT_EQ(task["fileName"], fileName);
    EXPECT_EQ(task["outputPath"], outputPath);
  }

  // A torrent's relative folder too; a FIFO as its file is refused at once.
  const fs::path fifo = downloads.path() / "pipe.torrent";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(
      Send(
          {{"type", "enqueue_torrent"}, {"torrentFilePath", fifo.string()}, {"outputPath", "rel"}}),
      (nlohmann::json{{"ok", false},
                      {"error", "Could not read .torrent file: not a regular file"}}));
  EXPECT_EQ(Send({{"type", "list_downloads"}})["ok"], true);  // still answering
}

}  // namespace
}  // namespace vn::test

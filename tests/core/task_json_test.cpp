#include "apps/service/core/task_json.h"

#include <gtest/gtest.h>

#include <limits>

namespace vn {
namespace {

std::string LibraryDump(const std::vector<DownloadTask>& tasks) {
  nlohmann::json downloads = nlohmann::json::array();
  for (const auto& task : tasks) downloads.push_back(TaskToJson(task));
  return CompactJson({{"ok", true}, {"downloads", std::move(downloads)}});
}

DownloadTask Tricky(const std::string& text) {
  DownloadTask task;
  task.id = "dl_" + text;
  task.url = "http://x/" + text;
  task.fileName = text;
  task.outputPath = "/out/" + text;
  task.failureReason = text;
  task.totalBytes = std::numeric_limits<std::int64_t>::max();
  task.downloadedBytes = std::numeric_limits<std::int64_t>::min();
  task.speedBytesPerSecond = -1;
  task.connectionCount = 32;
  task.finalizeDone = 7;
  task.finalizeTotal = 14;
  task.isTorrent = text.size() % 2 == 0;
  task.status = static_cast<DownloadStatus>(text.size() % 9);
  task.segments = {{10, 20, 3}, {0, 9, 10}, {21, 20, 0}};
  return task;
}

TEST(TaskListWriter, WritesTheSameBytesAsTheJsonLibrary) {
  std::vector<DownloadTask> tasks;
  EXPECT_EQ(ListDownloadsAnswer(tasks), R"({"downloads":[],"ok":true})");
  for (const std::string& text :
       {std::string(), std::string("plain.bin"), std::string("quote\" back\\slash /"),
        std::string("\b\f\n\r\t\x01\x1f\x7f"), std::string("\0nul", 4),
        std::string("Grüße 日本 \xF0\x9F\x98\x80"), std::string("\xEF\xBF\xBF")}) {
    tasks.push_back(Tricky(text));
  }
  tasks.push_back(DownloadTask{});
  EXPECT_EQ(ListDownloadsAnswer(tasks), LibraryDump(tasks));
}

TEST(TaskListWriter, TextThatIsNotUtf8IsReplacedAsTheLibraryDoes) {
  for (const std::string bad :
       {"\xff", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82", "ok\x80"}) {
    std::vector<DownloadTask> tasks = {Tricky("fine"), Tricky(bad)};
    const auto answer = ListDownloadsAnswer(tasks);
    EXPECT_EQ(answer, LibraryDump(tasks));
    EXPECT_NE(answer.find("\xEF\xBF\xBD"), std::string::npos);
    EXPECT_TRUE(nlohmann::json::accept(answer));
  }
}

TEST(TaskJson, NumbersSegmentsFromOneInListOrder) {
  DownloadTask task;
  task.segments = {{100, 199, 5}, {0, 99, 100}};
  const auto json = TaskToJson(task);
  ASSERT_EQ(json["segments"].size(), 2u);
  EXPECT_EQ(json["segments"][0].dump(), R"({"downloadedBytes":5,"end":199,"index":1,"start":100})");
  EXPECT_EQ(json["segments"][1]["index"], 2);
  EXPECT_EQ(json.size(), 14u);
  EXPECT_EQ(json["status"], "Queued");
  EXPECT_EQ(json["connectionCount"], 1);
}

TEST(TaskJson, ErrorAnswersAreAlwaysValidUtf8) {
  EXPECT_EQ(ErrorAnswer("Missing id"), R"({"error":"Missing id","ok":false})");
  const auto answer = ErrorAnswer("bad \xff byte");
  EXPECT_EQ(answer, "{\"error\":\"bad \xEF\xBF\xBD byte\",\"ok\":false}");
  EXPECT_TRUE(nlohmann::json::accept(answer));
}

}  // namespace
}  // namespace vn

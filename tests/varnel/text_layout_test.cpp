#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apps/varnel/download_table.h"
#include "apps/varnel/text_width.h"

namespace vn::cli {
namespace {

TaskView Task(std::string id, std::string status, std::string name, std::int64_t done,
              std::int64_t total, std::int64_t speed = 0) {
  TaskView task;
  task.id = std::move(id);
  task.status = std::move(status);
  task.fileName = std::move(name);
  task.downloadedBytes = done;
  task.totalBytes = total;
  task.speedBytesPerSecond = speed;
  task.connectionCount = 4;
  return task;
}

std::vector<TaskView> SampleTasks() {
  return {
      Task("dl_1733470000123", "Downloading",
           "a-rather-long-file-name-that-will-not-fit-anywhere-narrow.iso", 512 << 20, 1 << 30,
           3 << 20),
      Task("dl_1733470000456", "Completed", "small.txt", 1500, 1500),
      Task("tor_1733470000789_12", "Starting", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e-name.bin", 0,
           0),
  };
}

bool HasControlCharacters(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
  }
  return false;
}

TEST(TextWidth, CountsColumnsNotBytes) {
  EXPECT_EQ(DisplayWidth("abc"), 3u);
  EXPECT_EQ(DisplayWidth("caf\xc3\xa9"), 4u);               // café
  EXPECT_EQ(DisplayWidth("\xe6\x97\xa5\xe6\x9c\xac"), 4u);  // two wide characters
  EXPECT_EQ(DisplayWidth("e\xcc\x81"), 1u);                 // e + combining acute
  EXPECT_EQ(DisplayWidth("\xff\xfe"), 2u);                  // not UTF-8: a column a byte
  EXPECT_EQ(DisplayWidth(kEllipsis), 1u);
}

TEST(TextWidth, TruncatesOnCharacterBoundariesWithAnEllipsis) {
  EXPECT_EQ(TruncateToWidth("abcdef", 6), "abcdef");
  EXPECT_EQ(TruncateToWidth("abcdef", 4), "abc\xe2\x80\xa6");
  EXPECT_EQ(TruncateToWidth("abcdef", 1), "\xe2\x80\xa6");
  EXPECT_EQ(TruncateToWidth("abcdef", 0), "");
  // A wide character that would straddle the limit is left out whole.
  const std::string cut = TruncateToWidth("\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", 4);
  EXPECT_EQ(cut, "\xe6\x97\xa5\xe2\x80\xa6");
  EXPECT_LE(DisplayWidth(cut), 4u);
  EXPECT_EQ(PadRight("ab", 4), "ab  ");
  EXPECT_EQ(PadLeft("ab", 4), "  ab");
}

TEST(DownloadTable, ListsEveryDownloadUnderAHeader) {
  const auto lines = RenderDownloadTable(SampleTasks(), std::nullopt);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].rfind("ID", 0), 0u);
  for (const char* title : {"STATUS", "PROGRESS", "SIZE", "RATE", "NAME"}) {
    EXPECT_NE(lines[0].find(title), std::string::npos) << title;
  }
  EXPECT_NE(lines[1].find("50.0%"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("1 GiB"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("3 MiB/s"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("100.0%"), std::string::npos) << lines[2];
  EXPECT_NE(lines[2].find("1.5 KiB"), std::string::npos) << lines[2];
  // Unknown size: no percentage and no size rather than a wrong one.
  EXPECT_NE(lines[3].find(" - "), std::string::npos) << lines[3];
  EXPECT_NE(lines[3].find(" ? "), std::string::npos) << lines[3];
}

TEST(DownloadTable, WithoutAWidthNothingIsCut) {
  const auto lines = RenderDownloadTable(SampleTasks(), std::nullopt);
  EXPECT_NE(lines[1].find("a-rather-long-file-name-that-will-not-fit-anywhere-narrow.iso"),
            std::string::npos);
  for (const auto& line : lines) {
    EXPECT_EQ(line.find(kEllipsis), std::string::npos) << line;
    EXPECT_NE(line.back(), ' ') << "trailing space: '" << line << "'";
  }
}

TEST(DownloadTable, EveryLineFitsAnyWidth) {
  for (std::size_t width = 10; width <= 160; ++width) {
    for (const auto& line : RenderDownloadTable(SampleTasks(), width)) {
      EXPECT_LE(DisplayWidth(line), width) << "width " << width << ": '" << line << "'";
    }
  }
}

TEST(DownloadTable, CutsLongNamesWithAnEllipsisButKeepsIdsWhole) {
  const auto lines = RenderDownloadTable(SampleTasks(), 100);
  EXPECT_NE(lines[1].find(kEllipsis), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("dl_1733470000123"), std::string::npos);
  EXPECT_NE(lines[1].find("3 MiB/s"), std::string::npos) << "a 100-column table keeps RATE";
  EXPECT_NE(lines[2].find("small.txt"), std::string::npos) << "short names stay whole";
}

TEST(DownloadTable, NarrowScreensGiveUpRateThenSizeForNames) {
  const auto lines = RenderDownloadTable(SampleTasks(), 60);
  EXPECT_EQ(lines[0].find("RATE"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("NAME"), std::string::npos) << lines[0];
  EXPECT_NE(lines[2].find("small.txt"), std::string::npos) << lines[2];
}

TEST(DownloadTable, ShowsFailureReasonsAndNeutralisesControlCharacters) {
  auto failed = Task("dl_9", "Failed", "evil\x1b[2Jname\n.bin", 0, 10);
  failed.failureReason = "HTTP status 404";
  const auto lines = RenderDownloadTable({failed}, std::nullopt);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_FALSE(HasControlCharacters(lines[1])) << lines[1];
  EXPECT_NE(lines[1].find("evil?[2Jname?.bin (HTTP status 404)"), std::string::npos) << lines[1];
  EXPECT_EQ(Printable("a\xc2\x9b"
                      "b"),
            "a?b");  // C1 CSI
}

// Invisible format characters would show a name other than the real one
// ("\u202Egpj.exe" reads "exe.jpg"); they are escaped like control characters.
TEST(DownloadTable, EscapesBidirectionalAndZeroWidthCharacters) {
  struct Case {
    const char* name;
    const char* shown;
  };
  for (const Case& c : {Case{"\u202egpj.exe", "?gpj.exe"}, Case{"a\u200bb\u200fc", "a?b?c"},
                        Case{"\u2066x\u2069\u2028y", "?x??y"}, Case{"\ufeffz\u061c", "?z?"},
                        Case{"\u2060\u180e", "??"},
                        // Neighbours that are ordinary text stay as they are.
                        Case{"\u2010\u2030\u2070\u00e9\u4e2d", "\u2010\u2030\u2070\u00e9\u4e2d"}}) {
    EXPECT_EQ(Printable(c.name), c.shown) << c.name;
    const auto lines = RenderDownloadTable({Task("dl_1", "Queued", c.name, 0, 0)}, std::nullopt);
    EXPECT_NE(lines.at(1).find(c.shown), std::string::npos) << lines.at(1);
  }
}

}  // namespace
}  // namespace vn::cli

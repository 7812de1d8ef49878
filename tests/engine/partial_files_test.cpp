#include "apps/service/engine/partial_files.h"

#include <gtest/gtest.h>

#include "apps/service/engine/download_probe.h"
#include "tests/support/test_environment.h"

namespace vn {
namespace {

DownloadTask TaskIn(const std::filesystem::path& folder, std::vector<DownloadSegment> segments) {
  DownloadTask task;
  task.outputPath = folder.string();
  task.fileName = "movie.mp4";
  task.segments = std::move(segments);
  return task;
}

TEST(PartialFiles, SegmentFolderSitsBesideTheFinalFile) {
  DownloadTask task;
  task.outputPath = "/data/out";
  task.fileName = "movie.mp4";
  EXPECT_EQ(SegmentsFolder(task), std::filesystem::path("/data/out/movie.mp4.segments"));
  EXPECT_EQ(PartFilePath(SegmentsFolder(task), 10),
            std::filesystem::path("/data/out/movie.mp4.segments/10.part"));
  task.fileName = "sub/clip.mkv";
  EXPECT_EQ(SegmentsFolder(task), std::filesystem::path("/data/out/sub/clip.mkv.segments"));
}

TEST(PartialFiles, ReconcileFollowsThePartFiles) {
  test::TempFolder folder;
  DownloadTask task = TaskIn(folder.path(), {{0, 999, 600}, {1000, 1999, 600}, {2000, 2999, 600}});
  const auto segments = SegmentsFolder(task);
  std::filesystem::create_directories(segments);
  test::WriteFile(PartFilePath(segments, 0), std::string(400, 'a'));
  test::WriteFile(PartFilePath(segments, 1), std::string(1500, 'b'));
  EXPECT_TRUE(ReconcilePartFiles(task));
  EXPECT_EQ(task.segments[0].downloadedBytes, 400);
  EXPECT_EQ(task.segments[1].downloadedBytes, 1000);
  EXPECT_EQ(task.segments[2].downloadedBytes, 0);
}

TEST(PartialFiles, ReconcileRefusesCountsBeyondTheRange) {
  test::TempFolder folder;
  DownloadTask task = TaskIn(folder.path(), {{0, 999, 1200}});
  std::filesystem::create_directories(SegmentsFolder(task));
  test::WriteFile(PartFilePath(SegmentsFolder(task), 0), std::string(1200, 'a'));
  EXPECT_FALSE(ReconcilePartFiles(task));
}

TEST(PartialFiles, ProgressSurvivesOnlyUnchangedResources) {
  DownloadTask task = TaskIn("/tmp", {{0, 499, 10}, {500, 999, 10}});
  task.etag = "\"a\"";
  task.lastModified = "Mon";
  ProbeResult probe{1000, true, "\"a\"", "Mon"};
  EXPECT_TRUE(KeepEarlierProgress(task, 1000, probe));

  ProbeResult changedEtag = probe;
  changedEtag.etag = "\"b\"";
  EXPECT_FALSE(KeepEarlierProgress(task, 1000, changedEtag));
  ProbeResult droppedEtag = probe;
  droppedEtag.etag.clear();
  EXPECT_TRUE(KeepEarlierProgress(task, 1000, droppedEtag));
  // Behind a new URL a validator that went missing counts as changed.
  task.urlRefreshed = true;
  EXPECT_FALSE(KeepEarlierProgress(task, 1000, droppedEtag));
  EXPECT_TRUE(KeepEarlierProgress(task, 1000, probe));
  task.urlRefreshed = false;
  ProbeResult changedDate = probe;
  changedDate.lastModified = "Tue";
  EXPECT_FALSE(KeepEarlierProgress(task, 1000, changedDate));

  EXPECT_FALSE(KeepEarlierProgress(task, 900, probe));  // size changed
  EXPECT_TRUE(KeepEarlierProgress(task, 0, probe));     // size was unknown

  ProbeResult noRanges = probe;
  noRanges.rangeSupport = false;
  EXPECT_FALSE(KeepEarlierProgress(task, 1000, noRanges));
  DownloadTask single = TaskIn("/tmp", {{0, 999, 10}});
  EXPECT_TRUE(KeepEarlierProgress(single, 1000, noRanges));
  EXPECT_FALSE(KeepEarlierProgress(TaskIn("/tmp", {}), 1000, probe));
}

TEST(PartialFiles, ProgressOfAPlanForAnotherSizeIsDropped) {
  // A plan made while the size was unknown does not cover the probed size.
  DownloadTask task = TaskIn("/tmp", {{0, 0, 0}});
  EXPECT_FALSE(KeepEarlierProgress(task, 0, ProbeResult{5000, true, "", ""}));
  DownloadTask split = TaskIn("/tmp", {{0, 299, 0}, {600, 999, 0}, {300, 599, 0}});
  EXPECT_TRUE(KeepEarlierProgress(split, 1000, ProbeResult{1000, true, "", ""}));
  DownloadTask gap = TaskIn("/tmp", {{0, 299, 0}, {600, 999, 0}});
  EXPECT_FALSE(KeepEarlierProgress(gap, 1000, ProbeResult{1000, true, "", ""}));
}

TEST(PartialFiles, RemoveTakesFolderAndOptionallyTheFinalFile) {
  test::TempFolder folder;
  DownloadTask task = TaskIn(folder.path(), {});
  RemoveDownloadFiles(task, true);  // nothing there: no error
  std::filesystem::create_directories(SegmentsFolder(task));
  test::WriteFile(PartFilePath(SegmentsFolder(task), 0), "x");
  test::WriteFile(FinalFilePath(task), "y");
  RemoveDownloadFiles(task, false);
  EXPECT_FALSE(std::filesystem::exists(SegmentsFolder(task)));
  EXPECT_TRUE(std::filesystem::exists(FinalFilePath(task)));
  RemoveDownloadFiles(task, true);
  EXPECT_FALSE(std::filesystem::exists(FinalFilePath(task)));
}

TEST(PartialFiles, RemovalNeverLeavesTheDownloadsOwnFiles) {
  namespace fs = std::filesystem;
  test::TempFolder root;
  const fs::path out = root.path() / "out";
  const fs::path victim = root.path() / "victim";
  const std::vector<fs::path> planted = {
      out / "keep.txt",
      out / "a" / "inside.txt",
      victim / "file.txt",
      victim / "x.bin",
      victim / "x.bin.segments" / "0.part",
      victim / "sub" / "deep.txt",
  };
  for (const auto& file : planted) test::WriteFile(file, "mine");
  fs::create_symlink(victim / "file.txt", out / "link.bin");
  fs::create_symlink(victim, out / "link.bin.segments");
  fs::create_symlink(victim, out / "via");

  const std::string hostile[] = {"",
                                 ".",
                                 "..",
                                 "/",
                                 "a/..",
                                 std::string(1, '\0'),
                                 "a/",
                                 "../victim/x.bin",
                                 std::string("a\0b", 3),
                                 "via/x.bin",
                                 "link.bin"};
  for (const std::string& name : hostile) {
    DownloadTask task;
    task.outputPath = out.string();
    task.fileName = name;
    RemoveDownloadFiles(task, true);
    for (const auto& file : planted) EXPECT_EQ(test::ReadFile(file), "mine") << name << file;
  }
  // The planted links themselves went, their targets stayed.
  EXPECT_FALSE(fs::exists(fs::symlink_status(out / "link.bin")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(out / "link.bin.segments")));
}

}  // namespace
}  // namespace vn

#include "apps/varnel/progress_line.h"

#include <gtest/gtest.h>

#include "apps/varnel/task_view.h"
#include "apps/varnel/text_width.h"

namespace vn::cli {
namespace {

TaskView Downloading() {
  TaskView task;
  task.id = "dl_42";
  task.status = "Downloading";
  task.fileName = "file.iso";
  task.downloadedBytes = 256 << 20;
  task.totalBytes = 1 << 30;
  task.speedBytesPerSecond = 8 << 20;
  task.connectionCount = 8;
  return task;
}

TEST(ProgressLine, EstimatesTimeLeftOnlyWhileTransferring) {
  EXPECT_EQ(SecondsLeft(Downloading()), 96);  // 768 MiB at 8 MiB/s
  auto stalled = Downloading();
  stalled.speedBytesPerSecond = 0;
  EXPECT_FALSE(SecondsLeft(stalled));
  auto unknownSize = Downloading();
  unknownSize.totalBytes = 0;
  EXPECT_FALSE(SecondsLeft(unknownSize));
  auto paused = Downloading();
  paused.status = "Paused";
  EXPECT_FALSE(SecondsLeft(paused));
}

TEST(ProgressLine, BarShowsPercentBytesRateEtaAndConnections) {
  const std::string line = RenderProgressBar(Downloading(), 100);
  EXPECT_EQ(DisplayWidth(line), 100u) << line;
  EXPECT_EQ(line.front(), '[');
  for (const char* part : {"25.0%", "256 MiB / 1 GiB", "8 MiB/s", "ETA 1m36s", "8 conn"}) {
    EXPECT_NE(line.find(part), std::string::npos) << part << " in " << line;
  }
}

TEST(ProgressLine, BarKeepsItsLengthWhileTheNumbersChange) {
  auto later = Downloading();
  later.downloadedBytes = 1000 << 20;
  later.speedBytesPerSecond = 123456;
  auto stalled = Downloading();
  stalled.speedBytesPerSecond = 0;
  const std::string before = RenderProgressBar(Downloading(), 120);
  for (const auto& other : {later, stalled}) {
    const std::string after = RenderProgressBar(other, 120);
    EXPECT_EQ(before.find(']'), after.find(']')) << before << "\n" << after;
  }
}

TEST(ProgressLine, BarFitsEveryWidthAndDropsTheBarWhenNarrow) {
  for (std::size_t width = 0; width <= 140; ++width) {
    const std::string line = RenderProgressBar(Downloading(), width);
    EXPECT_LE(DisplayWidth(line), width) << line;
    for (char c : line) EXPECT_GE(static_cast<unsigned char>(c), 0x20) << line;
  }
  EXPECT_NE(RenderProgressBar(Downloading(), 50).front(), '[');
}

TEST(ProgressLine, VerifyingShowsTheFinishingPhaseAndItsStatus) {
  auto task = Downloading();
  task.status = "Verifying";
  task.downloadedBytes = task.totalBytes;
  task.speedBytesPerSecond = 0;
  task.finalizeTotal = 2 * task.totalBytes;
  task.finalizeDone = task.totalBytes / 2;
  const std::string line = RenderProgressBar(task, 100);
  EXPECT_NE(line.find("Verifying"), std::string::npos) << line;
  EXPECT_NE(line.find("25.0%"), std::string::npos) << line;
  EXPECT_EQ(line.find("conn"), std::string::npos) << line;
}

TEST(ProgressLine, PlainTextShowsTheFinishingPhasesBytes) {
  auto task = Downloading();
  task.status = "Verifying";
  task.speedBytesPerSecond = 0;
  task.finalizeTotal = 2 * task.totalBytes;
  task.finalizeDone = task.totalBytes / 2;
  EXPECT_EQ(RenderProgressText(task), "dl_42 Verifying 25.0% 512 MiB of 2 GiB");
  task.finalizeTotal = 0;  // before the phase knows its size: the download's bytes
  EXPECT_EQ(RenderProgressText(task), "dl_42 Verifying 25.0% 256 MiB of 1 GiB");
}

TEST(ProgressLine, PlainTextNamesTheDownloadAndLeavesOutUnknowns) {
  EXPECT_EQ(RenderProgressText(Downloading()),
            "dl_42 Downloading 25.0% 256 MiB of 1 GiB, 8 MiB/s, ETA 1m36s, 8 connections");
  TaskView queued;
  queued.id = "dl_43";
  queued.status = "Queued";
  EXPECT_EQ(RenderProgressText(queued), "dl_43 Queued 0 B");
  auto single = Downloading();
  single.connectionCount = 1;
  EXPECT_NE(RenderProgressText(single).find(", 1 connection"), std::string::npos);
  EXPECT_EQ(RenderProgressText(single).find("connections"), std::string::npos);
  auto done = Downloading();
  done.status = "Completed";
  done.downloadedBytes = done.totalBytes;
  done.speedBytesPerSecond = 0;
  EXPECT_EQ(RenderProgressText(done), "dl_42 Completed 100.0% 1 GiB of 1 GiB");
}

// A download that waits out a server that is down says so, in every form,
// instead of looking like one that transfers nothing.
TEST(ProgressLine, AWaitForTheServerShowsItsCauseAndTheNextTry) {
  auto waiting = Downloading();
  waiting.speedBytesPerSecond = 0;
  waiting.failureReason = "waiting: Server returned HTTP 503, next try in 25 s";
  EXPECT_EQ(RenderProgressText(waiting),
            "dl_42 Downloading 25.0% 256 MiB of 1 GiB, waiting: Server returned HTTP 503, next try "
            "in 25 s");
  EXPECT_NE(RenderProgressBar(waiting, 200).find("next try in 25 s"), std::string::npos);
  auto failed = waiting;
  failed.status = "Failed";
  failed.failureReason = "waiting: is only a prefix while Downloading";
  EXPECT_EQ(RenderProgressText(failed).find("waiting"), std::string::npos);
}

TEST(TaskView, WaitingEndsOnEveryRestingStatusForTorrentsToo) {
  TaskView task = Downloading();
  EXPECT_FALSE(HasEnded(task));
  for (const char* status : {"Completed", "Failed", "Cancelled", "Paused"}) {
    task.status = status;
    EXPECT_TRUE(HasEnded(task)) << status;
  }
  // A torrent is Paused only when a client paused or cancelled it; its queue is Queued.
  task.isTorrent = true;
  for (const char* status : {"Completed", "Paused"}) {
    task.status = status;
    EXPECT_TRUE(HasEnded(task)) << status;
  }
  for (const char* status : {"Queued", "Starting", "Downloading", "Verifying"}) {
    task.status = status;
    EXPECT_FALSE(HasEnded(task)) << status;
  }
}

}  // namespace
}  // namespace vn::cli

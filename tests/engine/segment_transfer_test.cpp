#include "apps/service/engine/segment_transfer.h"

#include <gtest/gtest.h>

#include <thread>

#include "apps/service/engine/partial_files.h"
#include "tests/engine/fake_wait_clock.h"
#include "tests/http_server/http_test_server.h"
#include "tests/support/test_environment.h"

namespace vn {
namespace {

// One segment worker's world, against the loopback server.
class SegmentTransferTest : public ::testing::Test {
 protected:
  // Retries pause on a fake clock: no test waits for real.
  SegmentTransferTest() { control.clock = &clock; }

  void Prepare(const test::ResourceOptions& resource, std::int64_t totalBytes,
               std::vector<DownloadSegment> segments) {
    server.SetResource("/file.bin", resource);
    task.outputPath = folder.path().string();
    task.fileName = "file.bin";
    task.totalBytes = totalBytes;
    task.segments = std::move(segments);
    task.segments.reserve(16);
    segmentsFolder = SegmentsFolder(task);
    std::filesystem::create_directories(segmentsFolder);
    target = platform::MakeRequestTarget(server.Url("/file.bin"), "", "");
    std::int64_t sum = 0;
    for (const auto& segment : task.segments) sum += segment.downloadedBytes;
    transferred.store(sum);
  }

  // The error text, or "" when the call returned normally.
  std::string Transfer(std::size_t index) {
    platform::HttpConnection connection(session);
    try {
      TransferSegment(job, connection, index);
      return "";
    } catch (const std::exception& error) {
      return error.what();
    }
  }

  std::string Part(std::size_t index) {
    return test::ReadFile(PartFilePath(segmentsFolder, index));
  }

  test::HttpTestServer server;
  test::TempFolder folder;
  DownloadTask task;
  std::filesystem::path segmentsFolder;
  std::mutex segmentMutex;
  test::FakeWaitClock clock;
  DownloadControl control;
  platform::RequestTarget target;
  std::atomic<std::int64_t> transferred{0};
  std::atomic<bool> wholeBody{false};
  std::atomic<bool> changed{false};
  std::atomic<bool> failed{false};
  platform::HttpSession session;
  const SegmentJob job{task,        segmentsFolder, segmentMutex, control, target,
                       transferred, wholeBody,      changed,      failed};
};

TEST_F(SegmentTransferTest, CompleteSegmentSendsNoRequest) {
  Prepare({.body = test::MakeContent(100)}, 100, {{0, 99, 100}});
  EXPECT_EQ(Transfer(0), "");
  EXPECT_EQ(server.Counters().requests, 0);
}

TEST_F(SegmentTransferTest, AppendsTheMissingBytes) {
  const std::string body = test::MakeContent(1000);
  Prepare({.body = body}, 1000, {{0, 999, 400}});
  test::WriteFile(PartFilePath(segmentsFolder, 0), body.substr(0, 400));
  EXPECT_EQ(Transfer(0), "");
  EXPECT_EQ(server.LastRequestHeader("/file.bin", "Range"), "bytes=400-999");
  EXPECT_EQ(Part(0), body);
  EXPECT_EQ(task.segments[0].downloadedBytes, 1000);
  EXPECT_EQ(transferred.load(), 1000);
}

TEST_F(SegmentTransferTest, StartsOverWhenTheServerIgnoresTheRange) {
  const std::string body = test::MakeContent(1000);
  Prepare({.body = body, .rangeSupport = false}, 1000, {{0, 999, 400}});
  test::WriteFile(PartFilePath(segmentsFolder, 0), std::string(400, 'x'));
  EXPECT_EQ(Transfer(0), "");
  EXPECT_EQ(Part(0), body);
  EXPECT_EQ(transferred.load(), 1000);
}

TEST_F(SegmentTransferTest, BrokenConnectionResumesFromTheNewOffset) {
  const std::string body = test::MakeContent(1000000);
  Prepare({.body = body, .dropAfterBytes = 300000, .dropResponses = 1}, 1000000, {{0, 999999, 0}});
  EXPECT_EQ(Transfer(0), "");
  EXPECT_EQ(server.LastRequestHeader("/file.bin", "Range"), "bytes=300000-999999");
  EXPECT_EQ(Part(0), body);
  EXPECT_EQ(server.Counters().requests, 2);
}

TEST_F(SegmentTransferTest, StopsAtAnEndLoweredWhileReading) {
  const std::string body = test::MakeContent(2 * 1048576);
  Prepare({.body = body, .bytesPerSecondPerConnection = 1048576}, 2 * 1048576,
          {{0, 2 * 1048576 - 1, 0}});
  std::int64_t newEnd = 0;
  std::thread splitter([&] {
    for (int i = 0; i < 1000; ++i) {
      {
        std::lock_guard lock(segmentMutex);
        if (task.segments[0].downloadedBytes > 0) {
          newEnd = task.segments[0].downloadedBytes + 600000;
          task.segments[0].end = newEnd;
          return;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  const std::string error = Transfer(0);
  splitter.join();
  ASSERT_EQ(error, "");
  ASSERT_GT(newEnd, 0);
  EXPECT_EQ(Part(0), body.substr(0, static_cast<std::size_t>(newEnd + 1)));
  EXPECT_EQ(server.Counters().requests, 1);
}

TEST_F(SegmentTransferTest, EmptyResponsesCountAsAStall) {
  Prepare({.status = 200}, 1000, {{0, 999, 0}});
  EXPECT_EQ(Transfer(0), "Segment download stalled before completion");
  EXPECT_EQ(server.Counters().requests, 8);
}

TEST_F(SegmentTransferTest, HttpErrorLeavesAfterEightAttempts) {
  Prepare({.status = 404}, 1000, {{0, 999, 0}});
  EXPECT_EQ(Transfer(0), "Server returned HTTP 404");
  EXPECT_EQ(server.Counters().requests, 8);
  // A pause between each two attempts, none after the last.
  EXPECT_EQ(clock.Waited(), std::chrono::milliseconds(7 * 150));
}

TEST_F(SegmentTransferTest, SeveralSegmentsNeedRangeSupport) {
  Prepare({.body = test::MakeContent(1000), .rangeSupport = false}, 1000,
          {{0, 499, 0}, {500, 999, 0}});
  EXPECT_EQ(Transfer(1), "Server does not support multi-part downloads for this file");
}

TEST_F(SegmentTransferTest, ConnectionsBrokenBeforeAnyByteGiveUp) {
  Prepare({.body = test::MakeContent(1000), .dropAfterBytes = 0}, 1000, {{0, 999, 0}});
  EXPECT_EQ(Transfer(0), "Failed while reading segment data");
  EXPECT_EQ(server.Counters().requests, 8);
}

TEST_F(SegmentTransferTest, UnreachableServerFailsToStartTheRequest) {
  Prepare({.body = "x"}, 1, {{0, 0, 0}});
  std::uint16_t closedPort = 0;
  {
    test::HttpTestServer gone;
    closedPort = gone.port();
  }
  target = platform::MakeRequestTarget(
      "http://127.0.0.1:" + std::to_string(closedPort) + "/file.bin", "", "");
  EXPECT_EQ(Transfer(0), "Failed to start segment request");
}

TEST_F(SegmentTransferTest, FailedWriteIsNotRetriedOrCounted) {
  Prepare({.body = test::MakeContent(1000)}, 1000, {{0, 999, 0}});
  std::filesystem::create_symlink("/dev/full", PartFilePath(segmentsFolder, 0));
  EXPECT_EQ(Transfer(0), "No space left on device");
  EXPECT_EQ(task.segments[0].downloadedBytes, 0);
  EXPECT_EQ(transferred.load(), 0);
  EXPECT_EQ(server.Counters().requests, 1);
}

TEST_F(SegmentTransferTest, MissingSegmentFolderCannotBeOpened) {
  Prepare({.body = test::MakeContent(1000)}, 1000, {{0, 999, 0}});
  std::filesystem::remove_all(segmentsFolder);
  EXPECT_EQ(Transfer(0), "Failed to open segment file");
}

TEST_F(SegmentTransferTest, UnknownSizeStartsOverAfterABrokenBody) {
  const std::string body = test::MakeContent(500000);
  Prepare({.body = body,
           .rangeSupport = false,
           .sendContentLength = false,
           .dropAfterBytes = 100000,
           .dropResponses = 1},
          0, {{0, 0, 0}});
  EXPECT_EQ(Transfer(0), "");
  EXPECT_EQ(Part(0), body);  // one body, not a torso followed by a whole body
  EXPECT_TRUE(wholeBody.load());
  EXPECT_EQ(task.segments[0].end, 499999);
  EXPECT_EQ(transferred.load(), 500000);
  EXPECT_EQ(server.LastRequestHeader("/file.bin", "Range"), "");
}

TEST_F(SegmentTransferTest, TruncatedUnknownSizeBodyNeverCompletes) {
  Prepare({.body = test::MakeContent(500000),
           .rangeSupport = false,
           .sendContentLength = false,
           .dropAfterBytes = 100000},
          0, {{0, 0, 0}});
  EXPECT_EQ(Transfer(0), "Failed while reading segment data");
  EXPECT_FALSE(wholeBody.load());
}

TEST_F(SegmentTransferTest, StopRequestEndsTheTransferWithoutError) {
  Prepare({.body = test::MakeContent(1000000), .bytesPerSecondPerConnection = 200000}, 1000000,
          {{0, 999999, 0}});
  std::thread stopper([&] {
    server.WaitForRequests(1, std::chrono::seconds(10));
    control.stopRequested.store(true);
  });
  EXPECT_EQ(Transfer(0), "");
  stopper.join();
  EXPECT_LT(task.segments[0].downloadedBytes, 1000000);
  EXPECT_EQ(static_cast<std::int64_t>(Part(0).size()), task.segments[0].downloadedBytes);
}

}  // namespace
}  // namespace vn

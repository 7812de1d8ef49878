// The real service on a hostile host: a full disk, low limits, and another
// user knocking on its sockets. Each test runs in a mount namespace of its own
// (made in SetUpTestSuite, before any thread exists), so the small tmpfs
// folders it mounts vanish with it. Needs root; skipped otherwise.
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <vector>

#include "apps/protocol/socket_names.h"
#include "platform/pipe.h"
#include "tests/e2e/service_fixture.h"
#include "tests/http_server/http_test_server.h"
#include "tests/support/wait_until.h"

namespace vn::test {
namespace {

constexpr std::int64_t kMiB = 1048576;

bool privateMounts = false;

ResourceOptions Serving(std::string body) {
  ResourceOptions options;
  options.body = std::move(body);
  return options;
}

class HostileHostTest : public ServiceTest {
 protected:
  static void SetUpTestSuite() {
    privateMounts = geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
                    mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  }
  void SetUp() override {
    if (!privateMounts) GTEST_SKIP() << "needs root for a private mount namespace";
  }

  // A fresh tmpfs of the given size; unmounted with the namespace.
  std::filesystem::path SmallDisk(const std::string& name, std::int64_t bytes) {
    const auto path = root.path() / name;
    std::filesystem::create_directories(path);
    const std::string options = "size=" + std::to_string(bytes);
    EXPECT_EQ(mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()), 0);
    return path;
  }
  static void Resize(const std::filesystem::path& disk, std::int64_t bytes) {
    const std::string options = "size=" + std::to_string(bytes);
    EXPECT_EQ(mount("tmpfs", disk.c_str(), "tmpfs", MS_REMOUNT, options.c_str()), 0);
  }

  // Polls list_downloads (each poll must be answered) until the download
  // satisfies done; its last state.
  static nlohmann::json WaitFor(const ServiceProcess& service, const std::string& id,
                                const std::function<bool(const nlohmann::json&)>& done) {
    nlohmann::json last;
    const bool got = WaitUntil(
        [&] {
          for (const auto& task : List(service)) {
            if (task["id"] == id) last = task;
          }
          return !last.is_null() && done(last);
        },
        std::chrono::seconds(90));
    EXPECT_TRUE(got) << "download " << id << " did not get there: " << last.dump();
    return last;
  }
  static bool Ended(const nlohmann::json& task) {
    return task["status"] == "Completed" || task["status"] == "Failed";
  }
  static std::string Enqueue(const ServiceProcess& service, const std::string& url,
                             const std::filesystem::path& folder, const std::string& name) {
    const auto answer = Ask(service, {{"type", "enqueue_download"},
                                      {"url", url},
                                      {"outputPath", folder.string()},
                                      {"fileName", name}});
    EXPECT_TRUE(answer.value("ok", false)) << answer.dump();
    return answer.value("id", "");
  }

  // A folder that other users may pass through (the test's own root is
  // closed to them), removed with the fixture.
  std::filesystem::path OpenFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "varnel-open-XXXXXX").string();
    EXPECT_NE(mkdtemp(pattern.data()), nullptr);
    openFolders.emplace_back(pattern);
    std::filesystem::permissions(pattern, std::filesystem::perms::owner_all |
                                              std::filesystem::perms::group_exec |
                                              std::filesystem::perms::others_exec);
    return pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    for (const auto& folder : openFolders) std::filesystem::remove_all(folder, ignored);
  }

  TempFolder root;
  HttpTestServer server;
  std::vector<std::filesystem::path> openFolders;
};

// A full disk is planned for when the size is known, and reported by the
// system's reason when it is not; the service stays up, and once there is room
// the same download completes with the right bytes. The join needs little more
// than the file's own size.
TEST_F(HostileHostTest, FullDiskFailsClearlyAndResumesOnceThereIsRoom) {
  const std::string fits = MakeContent(32 * kMiB);
  const std::string large = MakeContent(48 * kMiB);
  server.SetResource("/fits.bin", Serving(fits));
  server.SetResource("/large.bin", Serving(large));
  ResourceOptions unknownSize = Serving(large);
  unknownSize.rangeSupport = false;
  unknownSize.sendContentLength = false;
  server.SetResource("/unknown.bin", unknownSize);
  const auto disk = SmallDisk("disk", 44 * kMiB);
  const auto service = StartService();

  const auto done = WaitFor(*service, Enqueue(*service, server.Url("/fits.bin"), disk, "fits.bin"),
                            Ended);
  EXPECT_EQ(done["status"], "Completed") << done.dump();
  EXPECT_EQ(ReadFile(disk / "fits.bin"), fits);
  std::filesystem::remove(disk / "fits.bin");
  // Only the large file's bytes count below: the first download's aborted
  // ranges (after a split under load) may have sent more than its size.
  server.ResetCounters();

  const auto planned = WaitFor(
      *service, Enqueue(*service, server.Url("/large.bin"), disk, "large.bin"), Ended);
  EXPECT_EQ(planned["status"], "Failed");
  const std::string reason = planned["failureReason"];
  EXPECT_EQ(reason.rfind("Not enough disk space: the download needs 50331648 more bytes", 0), 0u)
      << reason;
  EXPECT_NE(reason.find(" bytes free"), std::string::npos) << reason;
  EXPECT_LT(server.Counters().bodyBytesSent, 48 * kMiB);  // failed before transferring

  const std::string id = Enqueue(*service, server.Url("/unknown.bin"), disk, "unknown.bin");
  const auto full = WaitFor(*service, id, Ended);
  EXPECT_EQ(full["failureReason"], "Segment download failed: No space left on device");
  Resize(disk, 128 * kMiB);
  EXPECT_TRUE(Ask(*service, {{"type", "resume_download"}, {"id", id}})["ok"]);
  const auto resumed = WaitFor(*service, id, Ended);
  EXPECT_EQ(resumed["status"], "Completed") << resumed.dump();
  EXPECT_EQ(ReadFile(disk / "unknown.bin"), large);
}

// The store on a full disk: the enqueue is refused, nothing half-written
// shows, and the list is the same after a restart.
TEST_F(HostileHostTest, EnqueueOnAFullDataDiskIsRefusedAndTheListSurvives) {
  server.SetResource("/file.bin", Serving(MakeContent(1000)));
  const auto data = SmallDisk("data", 4 * kMiB);
  const ServiceProcess::Environment environment{{"LOCALAPPDATA", data.string()}};
  auto service = StartService(environment);
  const std::string kept = Enqueue(*service, server.Url("/file.bin"), root.path(), "kept.bin");
  WaitFor(*service, kept, Ended);
  const auto before = List(*service);
  {
    std::ofstream filler(data / "filler", std::ios::binary);
    const std::string block(65536, 'x');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) {
    }
  }
  const auto refused = Ask(*service, {{"type", "enqueue_download"},
                                      {"url", server.Url("/file.bin")},
                                      {"outputPath", root.path().string()},
                                      {"fileName", "refused.bin"}});
  EXPECT_FALSE(refused.value("ok", true)) << refused.dump();
  EXPECT_FALSE(refused.value("error", "").empty());
  EXPECT_EQ(List(*service).size(), before.size());
  EXPECT_EQ(service->Stop(), 0);
  std::filesystem::remove(data / "filler");
  service = StartService(environment);
  const auto after = List(*service);
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(after[0]["id"], kept);
  EXPECT_EQ(after[0]["status"], "Completed");
}

// With 64 descriptors the service cannot give every download all its
// connections; each download still ends with a clear state, and every
// list_downloads on the way is answered.
TEST_F(HostileHostTest, FewDescriptorsStillAnswerAndEndEveryDownload) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The sanitizers check memory through descriptors of their own, and out of
  // descriptors they report faults that are not there and end the service.
  GTEST_SKIP() << "needs a build without sanitizers";
#endif
  ResourceOptions throttled = Serving(MakeContent(4 * kMiB));
  throttled.bytesPerSecondPerConnection = 4 * kMiB;
  server.SetResource("/file.bin", throttled);
  rlimit saved{};
  getrlimit(RLIMIT_NOFILE, &saved);
  rlimit low = saved;
  low.rlim_cur = 64;
  setrlimit(RLIMIT_NOFILE, &low);  // inherited by the service started now
  const auto service = StartService();
  setrlimit(RLIMIT_NOFILE, &saved);
  std::vector<std::string> ids;
  for (int index = 0; index < 8; ++index) {
    const auto answer = Ask(*service, {{"type", "enqueue_download"},
                                       {"url", server.Url("/file.bin")},
                                       {"outputPath", root.path().string()},
                                       {"fileName", "file" + std::to_string(index) + ".bin"},
                                       {"connectionCount", 16}});
    // Out of descriptors the store may refuse the enqueue: an answer all the same.
    if (answer.value("ok", false)) {
      ids.push_back(answer["id"]);
    } else {
      EXPECT_FALSE(answer.value("error", "").empty()) << answer.dump();
    }
  }
  for (const std::string& id : ids) {
    const auto end = WaitFor(*service, id, Ended);
    if (end["status"] == "Failed") {
      EXPECT_FALSE(end["failureReason"].get<std::string>().empty());
    } else {
      EXPECT_EQ(ReadFile(root.path() / end["fileName"].get<std::string>()).size(),
                static_cast<std::size_t>(4 * kMiB));
    }
  }
}

// Run as a user of its own that may have only a few threads, the service
// cannot start every run and every worker; each download still ends in a
// clear state, and every list_downloads on the way is answered.
TEST_F(HostileHostTest, FewThreadsStillAnswerAndEndEveryDownload) {
  // No process runs as this user, so the limit counts the service's threads only.
  constexpr int kOwnUser = 64999;
  constexpr int kThreads = 24;
  ResourceOptions throttled = Serving(MakeContent(4 * kMiB));
  throttled.bytesPerSecondPerConnection = 2 * kMiB;
  server.SetResource("/file.bin", throttled);
  const auto open = OpenFolder();
  for (const char* name : {"data", "run", "home", "out"}) {
    std::filesystem::create_directories(open / name);
    std::filesystem::permissions(open / name, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    ASSERT_EQ(chown((open / name).c_str(), kOwnUser, kOwnUser), 0);
  }
  const auto launcher = open / "limited-service";
  WriteFile(launcher, "#!/bin/sh\nexec setpriv --reuid=" + std::to_string(kOwnUser) +
                          " --regid=" + std::to_string(kOwnUser) + " --clear-groups prlimit --nproc=" +
                          std::to_string(kThreads) + " " VARNEL_SERVICE_BINARY "\n");
  std::filesystem::permissions(launcher, std::filesystem::perms::owner_all);
  setenv("XDG_RUNTIME_DIR", (open / "run").c_str(), 1);  // where the test asks too
  ServiceProcess service(launcher, {{"LOCALAPPDATA", (open / "data").string()},
                                    {"HOME", (open / "home").string()}});
  ASSERT_TRUE(service.Start()) << service.Errors();
  // The service talks to its own user only; the test becomes that user too.
  ASSERT_EQ(setegid(kOwnUser), 0);
  ASSERT_EQ(seteuid(kOwnUser), 0);
  std::vector<std::string> ids;
  for (int index = 0; index < 6; ++index) {
    const auto answer = Ask(service, {{"type", "enqueue_download"},
                                      {"url", server.Url("/file.bin")},
                                      {"outputPath", (open / "out").string()},
                                      {"fileName", "file" + std::to_string(index) + ".bin"},
                                      {"connectionCount", 16}});
    ASSERT_TRUE(answer.value("ok", false)) << answer.dump();
    ids.push_back(answer["id"]);
  }
  for (const std::string& id : ids) {
    const auto end = WaitFor(service, id, Ended);
    if (end["status"] == "Failed") {
      EXPECT_FALSE(end["failureReason"].get<std::string>().empty());
    } else {
      EXPECT_EQ(ReadFile(open / "out" / end["fileName"].get<std::string>()).size(),
                static_cast<std::size_t>(4 * kMiB));
    }
  }
  EXPECT_EQ(seteuid(0), 0);
  EXPECT_EQ(setegid(0), 0);
  EXPECT_EQ(service.Stop(), 0) << service.Errors();
}

// Another user reaches neither the service's socket nor the capture socket,
// even when every folder above the runtime folder lets them through.
TEST_F(HostileHostTest, AnotherUserCannotConnectToEitherSocket) {
  const std::filesystem::path open = OpenFolder();
  std::filesystem::create_directories(open / "run");
  std::filesystem::permissions(open, std::filesystem::perms::owner_all |
                                         std::filesystem::perms::group_exec |
                                         std::filesystem::perms::others_exec);
  std::filesystem::permissions(open / "run", std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::replace);
  setenv("XDG_RUNTIME_DIR", (open / "run").c_str(), 1);
  const auto service = StartService();
  platform::PipeListener capture(kUiCaptureSocketName, [](const std::string&) { return "{}"; });
  capture.Start();
  for (const char* name : {kServiceSocketName, kUiCaptureSocketName}) {
    SCOPED_TRACE(name);
    const std::string connect =
        "python3 -c 'import socket,sys; s=socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET); "
        "s.settimeout(5); s.connect(sys.argv[1]); s.send(b\"{}\"); sys.exit(0 if s.recv(99) else 3)' " +
        (open / "run" / name).string();
    EXPECT_EQ(std::system(connect.c_str()), 0);  // the owner gets through
    const std::string asNobody =
        "setpriv --reuid=nobody --regid=nogroup --clear-groups " + connect + " 2>/dev/null";
    EXPECT_NE(std::system(asNobody.c_str()), 0);
  }
}

}  // namespace
}  // namespace vn::test

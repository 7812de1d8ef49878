#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/pipe.h"
#include "tests/support/test_environment.h"

namespace vn::platform {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto kTimeout = 5s;
constexpr std::size_t kUnlimited = std::size_t{1} << 30;

std::string UniqueName() {
  static std::atomic<int> counter{0};
  return "pipe" + std::to_string(counter.fetch_add(1));
}

std::optional<std::string> Ask(const std::string& name, const std::string& request) {
  return SendPipeRequest(name, request, kUnlimited, kTimeout);
}

PipeListener::Handler Echo() {
  return [](const std::string& request) { return "re:" + request; };
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value) : name(name) {
    if (const char* old = std::getenv(name)) previous = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironment() {
    if (previous) {
      setenv(name, previous->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }

 private:
  const char* name;
  std::optional<std::string> previous;
};

sockaddr_un AddressOf(const fs::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  return address;
}

// A client that does what SendPipeRequest never does: several records,
// silence, not reading. Every read is bounded by a receive time-out.
class RawClient {
 public:
  explicit RawClient(const std::string& name) {
    fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    const timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const sockaddr_un address = AddressOf(PipePath(name));
    connected = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawClient() { close(fd); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool Connected() const { return connected; }
  bool Send(const std::string& record) {
    return send(fd, record.data(), record.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(record.size());
  }
  // Records until end of stream; nullopt on an error or time-out.
  std::optional<std::string> ReadToEnd() {
    std::string all;
    char buffer[65536];
    while (true) {
      const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
      if (got == 0) return all;
      if (got < 0) return std::nullopt;
      all.append(buffer, static_cast<std::size_t>(got));
    }
  }

 private:
  int fd = -1;
  bool connected = false;
};

// A socket file that nothing listens on, as a crashed server leaves behind.
void MakeStaleSocketFile(const fs::path& path) {
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  const sockaddr_un address = AddressOf(path);
  ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  close(fd);
  ASSERT_TRUE(fs::exists(path));
}

std::string ErrorText(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "(no exception)";
}

TEST(RuntimeFolder, IsTheAbsoluteXdgRuntimeDir) {
  EXPECT_EQ(RuntimeFolder(), fs::path(std::getenv("XDG_RUNTIME_DIR")));
}

TEST(RuntimeFolder, FallsBackToAPrivateFolderInTmp) {
  ScopedEnvironment relative("XDG_RUNTIME_DIR", "relative/run");
  const fs::path folder = RuntimeFolder();
  EXPECT_EQ(folder, fs::path("/tmp/varnel-" + std::to_string(geteuid())));
  EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST(RuntimeFolder, RefusesAFolderOthersCanAccess) {
  test::TempFolder temp;
  fs::permissions(temp.path(),
                  fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  ScopedEnvironment unsafe("XDG_RUNTIME_DIR", temp.path().string());
  EXPECT_EQ(ErrorText([] { RuntimeFolder(); }),
            "Runtime folder is accessible by other users: " + temp.path().string());
  EXPECT_FALSE(SendPipeRequest("any", "{}", kUnlimited, kTimeout).has_value());
}

TEST(RuntimeFolder, RefusesAFileOrALinkInsteadOfAFolder) {
  test::TempFolder temp;
  test::WriteFile(temp.path() / "file", "x");
  fs::create_directory_symlink(temp.path(), temp.path() / "link");
  for (const char* entry : {"file", "link"}) {
    const fs::path path = temp.path() / entry;
    ScopedEnvironment unsafe("XDG_RUNTIME_DIR", path.string());
    EXPECT_EQ(ErrorText([] { RuntimeFolder(); }),
              "Runtime folder is not a directory: " + path.string());
  }
}

TEST(RuntimeFolder, RefusesAFolderOfAnotherUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give a folder away";
  test::TempFolder temp;
  const fs::path folder = temp.path() / "theirs";
  fs::create_directory(folder);
  fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace);
  ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
  ScopedEnvironment unsafe("XDG_RUNTIME_DIR", folder.string());
  EXPECT_EQ(ErrorText([] { RuntimeFolder(); }),
            "Runtime folder is not owned by the current user: " + folder.string());
}

TEST(PipePath, RefusesAPathTooLongForASocketAddress) {
  const std::string name(120, 'n');
  EXPECT_EQ(ErrorText([&] { PipePath(name); }),
            "Socket path is too long: " + (RuntimeFolder() / name).string());
  EXPECT_FALSE(Ask(name, "{}").has_value());
}

TEST(Pipe, AnswersARequestWithTheHandlersResultInAPrivateSocket) {
  const std::string name = UniqueName();
  PipeListener listener(name, Echo());
  listener.Start();
  const std::string request("{\"a\":1}\0tail", 12);
  EXPECT_EQ(Ask(name, request), "re:" + request);
  EXPECT_EQ(fs::status(PipePath(name)).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(Ask(name, "again"), "re:again");
}

TEST(Pipe, Answers8191BytesButNotALongerOrEmptyRequest) {
  const std::string name = UniqueName();
  std::atomic<int> calls{0};
  PipeListener listener(name, [&](const std::string& request) {
    ++calls;
    return std::to_string(request.size());
  });
  listener.Start();
  EXPECT_EQ(Ask(name, std::string(8191, 'a')), "8191");
  EXPECT_EQ(Ask(name, std::string(8192, 'a')), "");
  EXPECT_EQ(Ask(name, std::string(100000, 'a')), "");
  EXPECT_EQ(Ask(name, ""), "");
  EXPECT_EQ(calls.load(), 1);
  EXPECT_EQ(Ask(name, "ok"), "2");
}

TEST(Pipe, AnswersOnlyTheFirstRecordOfAConnection) {
  const std::string name = UniqueName();
  std::atomic<int> calls{0};
  PipeListener listener(name, [&](const std::string& request) {
    ++calls;
    return "re:" + request;
  });
  listener.Start();
  RawClient client(name);
  ASSERT_TRUE(client.Connected());
  ASSERT_TRUE(client.Send("first"));
  ASSERT_TRUE(client.Send("second"));
  EXPECT_EQ(client.ReadToEnd(), "re:first");
  EXPECT_EQ(calls.load(), 1);
}

TEST(Pipe, LongResponseArrivesWholeOrCutAtTheClientsLimit) {
  const std::string name = UniqueName();
  const std::string big = test::MakeContent(1000000, 7);
  PipeListener listener(name, [&](const std::string&) { return big; });
  listener.Start();
  EXPECT_EQ(Ask(name, "list"), big);
  EXPECT_EQ(SendPipeRequest(name, "list", 32767, kTimeout), big.substr(0, 32767));
  EXPECT_EQ(Ask(name, "list again"), big);
}

TEST(Pipe, MissingOrStaleSocketCannotBeOpened) {
  const std::string name = UniqueName();
  EXPECT_FALSE(Ask(name, "{}").has_value());
  MakeStaleSocketFile(PipePath(name));
  EXPECT_FALSE(Ask(name, "{}").has_value());
}

TEST(PipeListener, ReplacesAStaleSocketFile) {
  const std::string name = UniqueName();
  MakeStaleSocketFile(PipePath(name));
  PipeListener listener(name, Echo());
  listener.Start();
  EXPECT_EQ(Ask(name, "x"), "re:x");
}

TEST(PipeListener, RefusesANameAnotherListenerServes) {
  const std::string name = UniqueName();
  PipeListener first(name, Echo());
  first.Start();
  EXPECT_EQ(ErrorText([&] { PipeListener second(name, Echo()); }),
            "A service is already running on " + PipePath(name).string());
  EXPECT_EQ(Ask(name, "still"), "re:still");
}

TEST(PipeListener, NeverTakesOverASocketAnotherProgramServes) {
  const std::string name = UniqueName();
  const fs::path path = PipePath(name);
  const int other = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  const sockaddr_un address = AddressOf(path);
  ASSERT_EQ(bind(other, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(other, 4), 0);
  EXPECT_EQ(ErrorText([&] { PipeListener listener(name, Echo()); }),
            "A service is already running on " + path.string());
  EXPECT_TRUE(fs::exists(path));
  close(other);
}

TEST(PipeListener, StopRemovesTheSocketAndFreesTheName) {
  const std::string name = UniqueName();
  {
    PipeListener listener(name, Echo());
    listener.Start();
    listener.Stop();
    listener.Stop();
    EXPECT_FALSE(fs::exists(PipePath(name)));
    EXPECT_FALSE(Ask(name, "x").has_value());
  }
  PipeListener again(name, Echo());
  again.Start();
  EXPECT_EQ(Ask(name, "x"), "re:x");
}

TEST(PipeListener, DropsASilentClientAndServesTheNext) {
  const std::string name = UniqueName();
  PipeListener listener(name, Echo(), 200ms);
  listener.Start();
  RawClient silent(name);
  ASSERT_TRUE(silent.Connected());
  EXPECT_EQ(Ask(name, "next"), "re:next");
  EXPECT_EQ(silent.ReadToEnd(), "");
}

TEST(PipeListener, DropsAClientThatStopsReadingAndServesTheNext) {
  const std::string name = UniqueName();
  PipeListener listener(
      name,
      [](const std::string& request) {
        return request == "big" ? std::string(8 << 20, 'r') : "small";
      },
      200ms);
  listener.Start();
  RawClient lazy(name);
  ASSERT_TRUE(lazy.Connected());
  ASSERT_TRUE(lazy.Send("big"));
  EXPECT_EQ(Ask(name, "next"), "small");
}

TEST(PipeListener, HandlerFailureClosesTheConnectionUnanswered) {
  const std::string name = UniqueName();
  PipeListener listener(name, [](const std::string& request) -> std::string {
    if (request == "fail") throw std::runtime_error("boom");
    return "fine";
  });
  listener.Start();
  EXPECT_EQ(Ask(name, "fail"), "");
  EXPECT_EQ(Ask(name, "other"), "fine");
}

TEST(PipeListener, StopDoesNotWaitForASilentClient) {
  const std::string name = UniqueName();
  PipeListener listener(name, Echo());
  listener.Start();
  RawClient silent(name);
  ASSERT_TRUE(silent.Connected());
  auto stopped = std::async(std::launch::async, [&] { listener.Stop(); });
  EXPECT_EQ(stopped.wait_for(2s), std::future_status::ready);
}

TEST(PipeListener, StopDoesNotWaitForAClientThatNeverReads) {
  const std::string name = UniqueName();
  std::promise<void> answering;
  PipeListener listener(name, [&](const std::string&) {
    answering.set_value();
    return std::string(8 << 20, 'r');
  });
  listener.Start();
  RawClient lazy(name);
  ASSERT_TRUE(lazy.Connected());
  ASSERT_TRUE(lazy.Send("list"));
  ASSERT_EQ(answering.get_future().wait_for(kTimeout), std::future_status::ready);
  auto stopped = std::async(std::launch::async, [&] { listener.Stop(); });
  EXPECT_EQ(stopped.wait_for(2s), std::future_status::ready);
}

}  // namespace
}  // namespace vn::platform

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

}  // namespace
}  // namespace vn::platform

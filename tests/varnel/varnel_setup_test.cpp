// varnel's set-up commands against the real binaries: the service started on
// demand and stopped through its socket's peer, browser manifests used the way
// a browser uses them, and doctor naming the fix for each broken check.
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "tests/native-host/host_process.h"
#include "tests/varnel/varnel_fixture.h"

namespace vn::test {
namespace {

// Sets an environment variable for the scope, for varnel children started meanwhile.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name(name) {
    if (const char* old = getenv(name)) before = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() {
    if (before) {
      setenv(name, before->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }

 private:
  const char* name;
  std::optional<std::string> before;
};

class VarnelSetup : public ServiceTest {
 protected:
  // A service that varnel started on its own is not a child of the test.
  void TearDown() override { RunVarnel({"service", "stop"}); }

  static std::filesystem::path Home() { return getenv("HOME"); }

  HttpTestServer http;
  TempFolder work;
};

TEST_F(VarnelSetup, AddStartsTheServiceOnDemandAndServiceStopEndsIt) {
  EXPECT_EQ(RunVarnel({"--no-start", "list"}).exitCode, 3);
  const std::string body = MakeContent(300000, 3);
  ResourceOptions resource;
  resource.body = body;
  http.SetResource("/demand.bin", resource);

  const auto added =
      RunVarnel({"add", http.Url("/demand.bin"), "-o", work.path().string(), "--wait"});
  ASSERT_EQ(added.exitCode, 0) << added.errors;
  EXPECT_NE(added.errors.find("varnel: started the download service (log: "), std::string::npos)
      << added.errors;
  EXPECT_EQ(ReadFile(work.path() / "demand.bin"), body);

  const auto status = RunVarnel({"service", "status"});
  EXPECT_EQ(status.exitCode, 0) << status.errors;
  EXPECT_NE(status.output.find("Service:    running (pid "), std::string::npos) << status.output;
  EXPECT_NE(status.output.find("Downloads:  1\n"), std::string::npos) << status.output;

  const auto stopped = RunVarnel({"service", "stop"});
  EXPECT_EQ(stopped.exitCode, 0) << stopped.errors;
  EXPECT_FALSE(std::filesystem::exists(SocketPath()));
  EXPECT_EQ(RunVarnel({"service", "status"}).exitCode, 3);
  // With the program out of reach nothing is started.
  ScopedVariable nowhere("VARNEL_SERVICE_BINARY", "/nonexistent/service");
  const auto refused = RunVarnel({"list"});
  EXPECT_EQ(refused.exitCode, 3);
  EXPECT_NE(refused.errors.find("its program was not found (/nonexistent/service)"),
            std::string::npos)
      << refused.errors;
}

TEST_F(VarnelSetup, BrowserManifestsReachTheRealHostAndUninstallRemovesOnlyThem) {
  TempFolder home;
  ScopedVariable homeVariable("HOME", home.path().string());
  ScopedVariable config("XDG_CONFIG_HOME", (Home() / ".config").string());
  const std::string chromeId = "abcdefghijklmnopabcdefghijklmnop";
  const auto chromeFolder = Home() / ".config" / "google-chrome" / "NativeMessagingHosts";
  const auto firefoxManifest =
      Home() / ".mozilla" / "native-messaging-hosts" / "com.varnel.v2.json";
  std::filesystem::create_directories(Home() / ".mozilla");
  WriteFile(chromeFolder / "other.host.json", "{}");

  ASSERT_EQ(RunVarnel({"browser", "install", "--chrome-extension-id", chromeId,
                       "--firefox-extension-id", "varnel@example.org"})
                .exitCode,
            0);
  // Again without ids: Varnel's own extension, then the earlier ones.
  ASSERT_EQ(RunVarnel({"browser", "install"}).exitCode, 0);
  const auto own = nlohmann::json::parse(ReadFile(VARNEL_EXTENSION_IDS_FILE));
  const auto ownChromium = own["chromium"].get<std::string>();
  const auto chrome = nlohmann::json::parse(ReadFile(chromeFolder / "com.varnel.v2.json"));
  EXPECT_EQ(chrome["allowed_origins"],
            nlohmann::json::array({"chrome-extension://" + ownChromium + "/",
                                   "chrome-extension://" + chromeId + "/"}));
  EXPECT_EQ(nlohmann::json::parse(ReadFile(firefoxManifest))["allowed_extensions"],
            nlohmann::json::array({own["firefox"], "varnel@example.org"}));

  // As Chrome does: start "path" with the caller's origin, then talk framed JSON.
  HostProcess host(chrome["path"].get<std::string>(), work.path(),
                   {chrome["allowed_origins"][0].get<std::string>()});
  const auto reply =
      host.Ask(R"({"type":"ping","browser":"chrome","extensionId":")" + chromeId + "\"}");
  EXPECT_EQ(reply, R"({"app":"Corbelle","browser":"chrome","host":"com.varnel.v2","ok":true})");

  const auto status = RunVarnel({"browser", "status"});
  EXPECT_NE(status.output.find("Google Chrome: manifest "), std::string::npos) << status.output;
  EXPECT_NE(status.output.find("from extension " + chromeId), std::string::npos) << status.output;
  EXPECT_NE(status.output.find("Chromium: not found"), std::string::npos) << status.output;
  // Where the build put the extension, and how to load it.
  EXPECT_NE(status.output.find("(id " + ownChromium + "): " + VARNEL_EXTENSION_FOLDER "/chromium\n"),
            std::string::npos)
      << status.output;
  EXPECT_NE(status.output.find("\"Load unpacked\""), std::string::npos) << status.output;

  EXPECT_EQ(RunVarnel({"browser", "uninstall"}).exitCode, 0);
  EXPECT_FALSE(std::filesystem::exists(chromeFolder / "com.varnel.v2.json"));
  EXPECT_FALSE(std::filesystem::exists(firefoxManifest));
  EXPECT_TRUE(std::filesystem::exists(chromeFolder / "other.host.json"));
}

// Only manifests install wrote are replaced or removed, nothing goes through a
// symbolic link, one browser that fails does not stop the others, and only
// real extension ids get into a manifest.
TEST_F(VarnelSetup, BrowserInstallTouchesOnlyItsOwnManifestsAndNeverFollowsALink) {
  TempFolder home;
  ScopedVariable homeVariable("HOME", home.path().string());
  ScopedVariable configVariable("XDG_CONFIG_HOME", (Home() / ".config").string());
  const std::string chromeId = "abcdefghijklmnopabcdefghijklmnop";

  // Checked before anything is written; no browser is found yet.
  const std::vector<std::pair<std::vector<std::string>, bool>> ids = {
      {{"--chrome-extension-id", chromeId}, true},
      {{"--chrome-extension-id", ".."}, false},
      {{"--chrome-extension-id", "abcdefghijklmnopabcdefghijklmnoq"}, false},
      {{"--chrome-extension-id", "ABCDEFGHIJKLMNOPABCDEFGHIJKLMNOP"}, false},
      {{"--chrome-extension-id", chromeId + "a"}, false},
      {{"--firefox-extension-id", "varnel@example.org"}, true},
      {{"--firefox-extension-id", "@varnel-downloads"}, true},
      {{"--firefox-extension-id", "{0a1b2c3d-4e5f-6789-abcd-ef0123456789}"}, true},
      {{"--firefox-extension-id", ".."}, false},
      {{"--firefox-extension-id", "a@b/../c.org"}, false},
      {{"--firefox-extension-id", "a@@example.org"}, false},
      {{"--firefox-extension-id", "{not-a-guid}"}, false},
      {{"--firefox-extension-id", "varnel@example.org\n"}, false},
  };
  for (const auto& [arguments, accepted] : ids) {
    std::vector<std::string> command = {"browser", "install"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const auto result = RunVarnel(command);
    EXPECT_EQ(result.exitCode, accepted ? 0 : 2) << arguments[1] << "\n" << result.errors;
    EXPECT_EQ(result.errors.find(arguments[0] + " takes an"), accepted ? std::string::npos : 8u)
        << result.errors;
  }

  const auto config = Home() / ".config";
  const auto chrome = config / "google-chrome" / "NativeMessagingHosts" / "com.varnel.v2.json";
  const auto edge = config / "microsoft-edge" / "NativeMessagingHosts" / "com.varnel.v2.json";
  const auto linked = config / "chromium" / "NativeMessagingHosts" / "com.varnel.v2.json";
  TempFolder elsewhere;
  const auto target = elsewhere.path() / "com.varnel.v2.json";
  const std::string foreign =
      R"({"name":"com.varnel.v2","type":"stdio","path":"/opt/other/host",)"
      R"("allowed_origins":["chrome-extension://ppppppppppppppppppppppppppppppppp/"]})";
  std::filesystem::create_directories(config / "google-chrome");
  WriteFile(edge, foreign);
  std::filesystem::create_directories(config / "chromium");
  std::filesystem::create_directory_symlink(elsewhere.path(), linked.parent_path());
  const auto record = DataRoot() / "browser-manifests.json";

  struct Step {
    std::string what;
    std::function<void()> before;
    std::vector<std::string> arguments;
    int exitCode;
    std::vector<std::string> texts;  // in the output or the errors
  };
  const std::vector<Step> steps = {
      {"first install",
       [] {},
       {"install", "--chrome-extension-id", chromeId},
       1,
       {"Google Chrome: wrote " + chrome.string(),
        "varnel: Chromium: not set up: " + linked.parent_path().string() + " is a symbolic link",
        "varnel: Microsoft Edge: kept " + edge.string() +
            ": varnel did not write it (it starts /opt/other/host); give --force",
        "varnel: 2 browser(s) not set up"}},
      {"changed after install",
       [&] { WriteFile(chrome, ReadFile(chrome) + " "); },
       {"install"},
       1,
       {"varnel: Google Chrome: kept " + chrome.string() +
        ": it was changed after varnel wrote it; give --force"}},
      {"forced",
       [] {},
       {"install", "--force", "--chrome-extension-id", chromeId},
       1,
       {"Google Chrome: moved " + chrome.string() + " aside to com.varnel.v2.json.bak-",
        "Microsoft Edge: moved " + edge.string() + " aside to com.varnel.v2.json.bak-",
        "Microsoft Edge: wrote " + edge.string(), "is a symbolic link"}},
      // A record that names the linked folder, beside a copy of our own
      // manifest there: still nothing is removed through the link.
      {"uninstall",
       [&] {
         WriteFile(target, ReadFile(chrome));
         auto written = nlohmann::json::parse(ReadFile(record));
         written["manifests"].push_back(linked.string());
         written["sha256"][linked.string()] = written["sha256"][chrome.string()];
         WriteFile(record, written.dump());
         WriteFile(edge, ReadFile(edge) + "\n");
       },
       {"uninstall"},
       1,
       {"Removed " + chrome.string(),
        "Kept " + edge.string() + ": it was changed after varnel wrote it.",
        "varnel: not removed: " + linked.string() + ": " + linked.parent_path().string() +
            " is a symbolic link"}},
  };
  for (const Step& step : steps) {
    step.before();
    std::vector<std::string> command = {"browser"};
    command.insert(command.end(), step.arguments.begin(), step.arguments.end());
    const auto result = RunVarnel(command);
    EXPECT_EQ(result.exitCode, step.exitCode) << step.what << "\n" << result.errors;
    for (const auto& text : step.texts) {
      EXPECT_NE((result.output + result.errors).find(text), std::string::npos)
          << step.what << ": " << text << "\n"
          << result.output << result.errors;
    }
    if (step.what != "uninstall") {
      EXPECT_FALSE(std::filesystem::exists(target)) << step.what;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(chrome));
  EXPECT_TRUE(std::filesystem::exists(edge));
  // The foreign manifest and the changed one are kept beside, as they were.
  std::vector<std::string> backups;
  for (const auto& folder : {chrome.parent_path(), edge.parent_path()}) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (entry.path().filename().string().rfind("com.varnel.v2.json.bak-", 0) == 0) {
        backups.push_back(ReadFile(entry.path()));
      }
    }
  }
  ASSERT_EQ(backups.size(), 2u);
  EXPECT_TRUE(backups[0] == foreign || backups[1] == foreign);
  EXPECT_EQ(
      std::vector<std::filesystem::path>(std::filesystem::directory_iterator(elsewhere.path()),
                                         std::filesystem::directory_iterator()),
      std::vector<std::filesystem::path>{target});
}

// A socket file that nothing listens on, as a crashed service leaves it.
void LeaveStaleSocket(const std::filesystem::path& path) {
  std::filesystem::remove(path);
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(fd);
}

// Something of this user's other than the service, listening on its socket.
// It runs in a child process of its own, so that a signal meant for it shows
// instead of ending the test.
class FakeListener {
 public:
  enum class Behaviour { kHangs, kCloses, kSendsGarbage };

  FakeListener(const std::filesystem::path& path, Behaviour behaviour) {
    std::filesystem::remove(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    // Listening happens in the child, so the socket's peer is the child.
    pid = fork();
    if (pid == 0) Serve(address, behaviour);
  }
  ~FakeListener() {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  FakeListener(const FakeListener&) = delete;
  FakeListener& operator=(const FakeListener&) = delete;

  bool Alive() const { return waitpid(pid, nullptr, WNOHANG) == 0; }

  // True once a connection is taken.
  static bool Listening(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
  }

  pid_t pid;

 private:
  // Only system calls and static memory: the test process has threads.
  [[noreturn]] static void Serve(const sockaddr_un& address, Behaviour behaviour) {
    static char garbage[50 << 10];
    static int held[256];
    std::size_t holding = 0;
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 16) != 0) {
      _exit(1);
    }
    for (;;) {
      const int client = accept(fd, nullptr, nullptr);
      if (client < 0) continue;
      if (behaviour == Behaviour::kHangs && holding < std::size(held)) {
        held[holding++] = client;
        continue;
      }
      // The request is read first, so closing does not reset the connection.
      if (behaviour == Behaviour::kSendsGarbage && recv(client, garbage, sizeof garbage, 0) > 0) {
        std::memset(garbage, 'x', sizeof garbage);
        for (int i = 0; i < 4; ++i) send(client, garbage, sizeof garbage, MSG_NOSIGNAL);
      }
      close(client);
    }
  }
};

// stop, start and status look at who listens before they act: a listener that
// is not the service is named, never signalled and never called running.
TEST_F(VarnelSetup, ServiceCommandsLeaveAListenerThatIsNotTheServiceAlone) {
  const auto self = std::filesystem::read_symlink("/proc/self/exe").string();
  struct Case {
    FakeListener::Behaviour behaviour;
    std::string answer;  // what varnel says of its answer to list_downloads
  };
  const std::vector<Case> cases = {
      {FakeListener::Behaviour::kHangs, "the download service gave no answer"},
      {FakeListener::Behaviour::kCloses, "the download service gave no answer"},
      {FakeListener::Behaviour::kSendsGarbage,
       "the download service sent an answer that varnel cannot read"},
  };
  for (const Case& c : cases) {
    FakeListener fake(SocketPath(), c.behaviour);
    ASSERT_TRUE(WaitUntil([&] { return FakeListener::Listening(SocketPath()); },
                          std::chrono::seconds(10), std::chrono::milliseconds(20)));
    const std::string found = "pid " + std::to_string(fake.pid) + " (" + self + ")";
    const std::string why = "it runs " + self + ", not the service program";
    for (const std::string command : {"stop", "start"}) {
      const auto result = RunVarnel({"service", command});
      EXPECT_EQ(result.exitCode, 3) << command << "\n" << result.errors;
      for (const auto& text : {"varnel: something other than the download service listens on " +
                                   SocketPath().string() + ": " + found + "; " + why,
                               "asked for list_downloads: " + c.answer}) {
        EXPECT_NE(result.errors.find(text), std::string::npos) << command << ": " << text << "\n"
                                                               << result.errors;
      }
      EXPECT_TRUE(fake.Alive()) << command;
    }
    const auto status = RunVarnel({"service", "status"});
    EXPECT_EQ(status.exitCode, 3);
    EXPECT_NE(status.output.find("Service:    not running; the socket is held by " + found +
                                 ", which is not the download service: " + why),
              std::string::npos)
        << status.output;
    EXPECT_TRUE(fake.Alive());
  }
}

TEST_F(VarnelSetup, DoctorPassesOnAWorkingSetUpAndNamesTheFixForEachBrokenCheck) {
  TempFolder home;
  ScopedVariable homeVariable("HOME", home.path().string());
  ScopedVariable config("XDG_CONFIG_HOME", (Home() / ".config").string());
  TempFolder scratch;
  WriteFile(scratch.path() / "file", "x");
  const auto underAFile = (scratch.path() / "file" / "sub").string();
  std::unique_ptr<ServiceProcess> service;
  std::unique_ptr<ServiceProcess> second;
  std::vector<std::unique_ptr<ScopedVariable>> variables;
  const auto set = [&](const char* name, const std::string& value) {
    variables.push_back(std::make_unique<ScopedVariable>(name, value));
  };

  struct Case {
    std::string broken;
    std::function<std::string()> breakIt;  // returns the fix doctor must name
  };
  const std::vector<Case> cases = {
      {"nothing", [] { return std::string(); }},
      {"service",
       [&] {
         service.reset();
         return std::string("fix: varnel service start");
       }},
      {"socket mode",
       [&] {
         chmod(SocketPath().c_str(), 0644);
         return "fix: chmod 600 " + SocketPath().string();
       }},
      {"data root",
       [&] {
         set("LOCALAPPDATA", underAFile);
         return std::string("LOCALAPPDATA or XDG_DATA_HOME");
       }},
      {"download folder",
       [&] {
         set("XDG_DOWNLOAD_DIR", underAFile);
         return std::string("point XDG_DOWNLOAD_DIR");
       }},
      {"database",
       [&] {
         WriteFile(scratch.path() / "broken" / "VarnelV2" / "data" / "downloads.db", "not sqlite");
         set("LOCALAPPDATA", (scratch.path() / "broken").string());
         return std::string("fix: move it aside (mv ");
       }},
      {"torrent engine",
       [&] {
         service.reset();
         return std::string("torrent engine cannot be asked\n       fix: varnel service start");
       }},
      {"browser manifests",
       [&] {
         std::filesystem::create_directories(Home() / ".config" / "chromium");
         return std::string("fix: varnel browser install");
       }},
      {"second service",
       [&] {
         TempFolder otherRun;
         std::filesystem::permissions(otherRun.path(), std::filesystem::perms::owner_all,
                                      std::filesystem::perm_options::replace);
         second = StartService({{"XDG_RUNTIME_DIR", otherRun.path().string()}});
         return "fix: stop it: kill " + std::to_string(second->pid());
       }},
      {"stale socket",
       [&] {
         service.reset();
         LeaveStaleSocket(SocketPath());
         return "fix: rm " + SocketPath().string();
       }},
  };
  for (const auto& check : cases) {
    service = StartService();
    const std::string fix = check.breakIt();
    const auto result = RunVarnel({"doctor"});
    if (fix.empty()) {
      EXPECT_EQ(result.exitCode, 0) << result.output;
    } else {
      EXPECT_EQ(result.exitCode, 1) << check.broken << "\n" << result.output;
      EXPECT_NE(result.output.find(fix), std::string::npos) << check.broken << "\n"
                                                            << result.output;
    }
    variables.clear();
    second.reset();
    service.reset();
    std::filesystem::remove_all(Home() / ".config" / "chromium");
    std::filesystem::remove(SocketPath());
  }
}

}  // namespace
}  // namespace vn::test

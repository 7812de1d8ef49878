// varnel's set-up commands against the real binaries: the service started on
// demand and stopped through its socket's peer, browser manifests used the way
// a browser uses them, and doctor naming the fix for each broken check.
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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
  // Again without ids: the earlier ones stay.
  ASSERT_EQ(RunVarnel({"browser", "install"}).exitCode, 0);
  const auto chrome = nlohmann::json::parse(ReadFile(chromeFolder / "com.varnel.v2.json"));
  EXPECT_EQ(chrome["allowed_origins"],
            nlohmann::json::array({"chrome-extension://" + chromeId + "/"}));
  EXPECT_EQ(nlohmann::json::parse(ReadFile(firefoxManifest))["allowed_extensions"],
            nlohmann::json::array({"varnel@example.org"}));

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

  EXPECT_EQ(RunVarnel({"browser", "uninstall"}).exitCode, 0);
  EXPECT_FALSE(std::filesystem::exists(chromeFolder / "com.varnel.v2.json"));
  EXPECT_FALSE(std::filesystem::exists(firefoxManifest));
  EXPECT_TRUE(std::filesystem::exists(chromeFolder / "other.host.json"));
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

// Ping replies and the browser registry they leave behind.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>
#include <nlohmann/json.hpp>

#include "tests/native-host/host_process.h"
#include "tests/support/test_environment.h"

namespace vn::test {
namespace {

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

class Ping : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::remove_all(folder); }
  void TearDown() override { std::filesystem::remove_all(folder); }

  std::optional<std::string> Ask(const std::string& message) {
    HostProcess host(HostBinary(), workingFolder.path());
    auto reply = host.Ask(message);
    host.CloseInput();
    EXPECT_EQ(host.WaitForExit(), 0);
    return reply;
  }

  nlohmann::json Registry() { return nlohmann::json::parse(ReadFile(file)); }

  const std::filesystem::path folder = TestRoot() / "localappdata" / "VarnelV2";
  const std::filesystem::path file = folder / "browser-handshakes.json";
  TempFolder workingFolder;
};

TEST_F(Ping, RepliesWithTheHandshakeAndRecordsTheBrowser) {
  const auto before = Now();
  EXPECT_EQ(Ask(R"({"type":"ping","browser":"chrome","extensionId":"abc"})"),
            R"({"app":"Corbelle","browser":"chrome","host":"com.varnel.v2","ok":true})");
  const auto after = Now();

  const auto registry = Registry();
  ASSERT_EQ(registry.size(), 1u);
  const auto& entry = registry.at("chrome");
  EXPECT_EQ(entry.at("browser"), "chrome");
  EXPECT_EQ(entry.at("extensionId"), "abc");
  EXPECT_GE(entry.at("lastSeenUtcEpoch").get<std::int64_t>(), before);
  EXPECT_LE(entry.at("lastSeenUtcEpoch").get<std::int64_t>(), after);
}

TEST_F(Ping, RegistryIsIndentedSortedWithoutTrailingNewlineAndNoTemporaryLeft) {
  Ask(R"({"type":"ping","browser":"édge","extensionId":"é1"})");
  Ask(R"({"type":"ping","browser":"chrome"})");
  const auto text = ReadFile(file);
  const auto registry = nlohmann::json::parse(text);
  EXPECT_EQ(text, registry.dump(2, ' ', false));
  EXPECT_NE(text.find("\"édge\": {\n    \"browser\": \"édge\",\n    \"extensionId\": \"é1\","),
            std::string::npos)
      << text;
  EXPECT_LT(text.find("\"chrome\""), text.find("\"édge\""));
  EXPECT_EQ(registry.at("chrome").at("extensionId"), "");
  EXPECT_NE(text.back(), '\n');

  // Beside the registry only its lock file, which stays so every host locks the same file.
  std::size_t entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().filename() != "browser-handshakes.json.lock") ++entries;
  }
  EXPECT_EQ(entries, 1u);
}

TEST_F(Ping, SecondPingOfABrowserUpdatesOnlyItsOwnEntry) {
  Ask(R"({"type":"ping","browser":"chrome","extensionId":"first"})");
  Ask(R"({"type":"ping","browser":"edge","extensionId":"edge-id"})");
  // Back-date chrome so the second ping's time is seen to replace it.
  auto registry = Registry();
  registry["chrome"]["lastSeenUtcEpoch"] = 1;
  const auto edge = registry.at("edge");
  WriteFile(file, registry.dump(2));

  Ask(R"({"type":"ping","browser":"chrome","extensionId":"second"})");
  registry = Registry();
  ASSERT_EQ(registry.size(), 2u);
  EXPECT_EQ(registry.at("chrome").at("extensionId"), "second");
  EXPECT_GT(registry.at("chrome").at("lastSeenUtcEpoch").get<std::int64_t>(), 1);
  EXPECT_EQ(registry.at("edge"), edge);
}

TEST_F(Ping, OtherMembersStayAsTheyWereWhateverTheyHold) {
  std::filesystem::create_directories(folder);
  WriteFile(file, R"({"firefox": [1, "x"], "chrome": 5, "opera": {"browser": "opera"}})");
  Ask(R"({"type":"ping","browser":"chrome","extensionId":"id"})");
  const auto registry = Registry();
  EXPECT_EQ(registry.at("firefox"), nlohmann::json::parse(R"([1,"x"])"));
  EXPECT_EQ(registry.at("opera"), nlohmann::json::parse(R"({"browser":"opera"})"));
  EXPECT_EQ(registry.at("chrome").at("extensionId"), "id");
}

TEST_F(Ping, EmptyOrMissingBrowserIsAnsweredAndLeavesTheFileUntouched) {
  std::filesystem::create_directories(folder);
  const std::string content = "{\"chrome\": 1}\n  ";
  WriteFile(file, content);
  const auto reply = R"({"app":"Corbelle","browser":"","host":"com.varnel.v2","ok":true})";
  EXPECT_EQ(Ask(R"({"type":"ping","browser":"","extensionId":"x"})"), reply);
  EXPECT_EQ(Ask(R"({"type":"ping"})"), reply);
  EXPECT_EQ(ReadFile(file), content);
}

TEST_F(Ping, EmptyBrowserCreatesNoFile) {
  Ask(R"({"type":"ping"})");
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(Ping, CorruptOrNonObjectFileIsReplacedByTheCurrentBrowserOnly) {
  std::filesystem::create_directories(folder);
  for (const std::string content : {"{\"edge\": {\"browser\"", "[1, 2]", "", "\xff\xfe"}) {
    WriteFile(file, content);
    Ask(R"({"type":"ping","browser":"chrome","extensionId":"id"})");
    const auto registry = Registry();
    EXPECT_EQ(registry.size(), 1u) << content;
    EXPECT_EQ(registry.at("chrome").at("extensionId"), "id");
  }
}

TEST_F(Ping, UnwritableRegistryStillGetsTheReply) {
  // A folder where the file should be: it can be neither read nor replaced.
  std::filesystem::create_directories(file);
  EXPECT_EQ(Ask(R"({"type":"ping","browser":"chrome"})"),
            R"({"app":"Corbelle","browser":"chrome","host":"com.varnel.v2","ok":true})");
  EXPECT_TRUE(std::filesystem::is_directory(file));
}

// Browsers start a host per connection: hosts that record at once must each
// leave their browser in the registry.
TEST_F(Ping, ConcurrentHostsLoseNoBrowser) {
  constexpr int kHosts = 20;
  std::vector<std::unique_ptr<HostProcess>> hosts;
  for (int i = 0; i < kHosts; ++i) {
    hosts.push_back(std::make_unique<HostProcess>(HostBinary(), workingFolder.path()));
  }
  // Every ping is sent before any reply is read, so the hosts record together.
  for (int i = 0; i < kHosts; ++i) {
    ASSERT_TRUE(hosts[i]->Send(R"({"type":"ping","browser":"b)" + std::to_string(i) + R"("})"));
  }
  for (auto& host : hosts) {
    EXPECT_TRUE(host->Receive());
    host->CloseInput();
    EXPECT_EQ(host->WaitForExit(), 0);
  }
  const auto registry = Registry();
  EXPECT_EQ(registry.size(), static_cast<std::size_t>(kHosts)) << registry.dump();
}

TEST_F(Ping, TypeIsCaseSensitive) {
  HostProcess host(HostBinary(), workingFolder.path());
  EXPECT_EQ(host.Ask(R"({"type":"Ping","browser":"chrome"})"),
            R"({"error":"Missing url","ok":false})");
  EXPECT_FALSE(std::filesystem::exists(file));
}

}  // namespace
}  // namespace vn::test

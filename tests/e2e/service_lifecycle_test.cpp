#include <sys/stat.h>

#include <filesystem>

#include "tests/e2e/service_fixture.h"
#include "tests/e2e/stored_downloads.h"

namespace vn::test {
namespace {

using ServiceLifecycle = ServiceTest;

TEST_F(ServiceLifecycle, PrintsStartLineAndStopsCleanlyOnSigterm) {
  auto service = StartService();
  EXPECT_EQ(service->Output(), "Download service started.\n");
  EXPECT_TRUE(std::filesystem::exists(SocketPath()));
  struct stat info {};
  ASSERT_EQ(stat(SocketPath().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  EXPECT_EQ(service->Stop(), 0);
  EXPECT_FALSE(std::filesystem::exists(SocketPath()));
  EXPECT_EQ(service->Errors(), "");
  EXPECT_TRUE(std::filesystem::exists(DataRoot() / "data" / "downloads.db"));
}

TEST_F(ServiceLifecycle, SecondServiceRefusesToStartAndLeavesTheFirstServing) {
  auto first = StartService();
  // An older installation's database that a starting service would adopt into
  // the (still empty) database of the running one, if it got that far.
  const auto database = DataRoot() / "data" / "downloads.db";
  const auto legacy = std::filesystem::path(std::getenv("LOCALAPPDATA")) / "Programs" / "Corbelle" /
                      "data" / "downloads.db";
  std::filesystem::create_directories(legacy.parent_path());
  std::filesystem::copy_file(database, legacy);
  StoredDownloads(legacy).AddTask("dl_7", "Paused", "/tmp", "old.bin", 0, 0);
  const std::string databaseBefore = ReadFile(database);

  ServiceProcess second(VARNEL_SERVICE_BINARY);
  EXPECT_FALSE(second.Start());
  EXPECT_EQ(second.WaitForExit(std::chrono::seconds(10)), 1);
  EXPECT_EQ(second.Errors().rfind("Service failed: ", 0), 0u) << second.Errors();
  EXPECT_NE(second.Errors().find("already running"), std::string::npos) << second.Errors();

  EXPECT_EQ(Ask(*first, {{"type", "list_downloads"}}),
            nlohmann::json::parse(R"({"downloads":[],"ok":true})"));
  EXPECT_EQ(ReadFile(database), databaseBefore);
  EXPECT_EQ(first->Stop(), 0);
}

TEST_F(ServiceLifecycle, ReplacesAStaleSocketFile) {
  auto first = StartService();
  first->Kill();
  ASSERT_TRUE(std::filesystem::exists(SocketPath()));  // left behind by the crash
  auto second = StartService();
  EXPECT_EQ(second->Request(R"({"type":"list_downloads"})"), R"({"downloads":[],"ok":true})");
  EXPECT_EQ(second->Stop(), 0);
}

TEST_F(ServiceLifecycle, UnsafeRuntimeFolderFailsTheStart) {
  TempFolder folder;
  std::filesystem::permissions(folder.path(), std::filesystem::perms(0755));
  ServiceProcess service(VARNEL_SERVICE_BINARY, {{"XDG_RUNTIME_DIR", folder.path().string()}});
  EXPECT_FALSE(service.Start());
  EXPECT_EQ(service.WaitForExit(std::chrono::seconds(10)), 1);
  EXPECT_EQ(service.Errors().rfind("Service failed: ", 0), 0u) << service.Errors();
  EXPECT_NE(service.Errors().find(folder.path().string()), std::string::npos) << service.Errors();
}

TEST_F(ServiceLifecycle, DataFolderThatCannotBeCreatedFailsTheStart) {
  TempFolder folder;
  WriteFile(folder.path() / "VarnelV2", "a file where the data folder should be");
  ServiceProcess service(VARNEL_SERVICE_BINARY, {{"LOCALAPPDATA", folder.path().string()}});
  EXPECT_FALSE(service.Start());
  EXPECT_EQ(service.WaitForExit(std::chrono::seconds(10)), 1);
  EXPECT_EQ(service.Errors().rfind("Service failed: ", 0), 0u) << service.Errors();
  EXPECT_NE(service.Errors().find("create"), std::string::npos) << service.Errors();
  EXPECT_EQ(service.Output(), "");
}

}  // namespace
}  // namespace vn::test

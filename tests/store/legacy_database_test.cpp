#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "apps/service/core/legacy_database.h"
#include "apps/service/store/download_store.h"
#include "platform/locations.h"
#include "tests/support/sqlite_test_file.h"
#include "tests/support/test_environment.h"

namespace vn {
namespace {

namespace fs = std::filesystem;

const char* const kDeveloperBuildDatabase =
    "build/windows-msvc-debug/apps/service/Debug/data/downloads.db";
const char* const kOlderInstallationDatabase = "Programs/Corbelle/data/downloads.db";

// Sets LOCALAPPDATA (or removes it) for one test and puts the old value back.
class ScopedLocalAppData {
 public:
  explicit ScopedLocalAppData(const std::optional<std::string>& value) {
    if (const char* old = getenv("LOCALAPPDATA")) previous = old;
    if (value) {
      setenv("LOCALAPPDATA", value->c_str(), 1);
    } else {
      unsetenv("LOCALAPPDATA");
    }
  }
  ~ScopedLocalAppData() {
    if (previous) {
      setenv("LOCALAPPDATA", previous->c_str(), 1);
    } else {
      unsetenv("LOCALAPPDATA");
    }
  }
  ScopedLocalAppData(const ScopedLocalAppData&) = delete;
  ScopedLocalAppData& operator=(const ScopedLocalAppData&) = delete;

 private:
  std::optional<std::string> previous;
};

// A real store file whose ids all start with prefix; longer urls make a
// larger file.
void MakeDatabase(const fs::path& path, const std::string& prefix, int rows,
                  std::size_t urlLength = 20) {
  DownloadStore store(path.string());
  store.Initialize();
  for (int i = 0; i < rows; ++i) {
    DownloadTask task;
    task.id = prefix + "_" + std::to_string(i);
    task.url = "https://example.test/" + std::string(urlLength, 'u');
    task.fileName = task.id;
    task.outputPath = "/tmp";
    store.Save(task);
  }
}

std::string FirstId(const fs::path& path) {
  return test::SqliteTestFile(path).Text("SELECT MIN(id) FROM downloads;");
}

void SetWriteTime(const fs::path& path, fs::file_time_type time) {
  fs::last_write_time(path, time);
}

const fs::file_time_type kOlder = fs::file_time_type::clock::now() - std::chrono::hours(48);
const fs::file_time_type kNewer = fs::file_time_type::clock::now() - std::chrono::hours(1);

// Adoption inside this test program, through the older-installation
// candidate. The repository's own candidates must not exist, or they would
// take part (and must never be written by a test).
class LegacyDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path root = platform::FindProjectRoot();
    if (!root.empty() && (fs::exists(root / "data" / "downloads.db") ||
                          fs::exists(root / kDeveloperBuildDatabase))) {
      GTEST_SKIP() << "a developer database exists in " << root;
    }
  }

  test::TempFolder folder;
  ScopedLocalAppData localAppData{(folder.path() / "local").string()};
  fs::path candidate = folder.path() / "local" / kOlderInstallationDatabase;
  fs::path target = folder.path() / "VarnelV2" / "data" / "downloads.db";
};

TEST_F(LegacyDatabaseTest, MissingTargetReceivesACopyOfTheCandidate) {
  MakeDatabase(candidate, "old", 2);

  AdoptLegacyDatabase(target);

  EXPECT_EQ(CountStoredDownloads(target), 2);
  EXPECT_EQ(test::ReadFile(target), test::ReadFile(candidate));
  EXPECT_EQ(CountStoredDownloads(candidate), 2);
  EXPECT_FALSE(fs::exists(target.string() + ".adopting"));
}

TEST_F(LegacyDatabaseTest, TargetWithOneDownloadIsKept) {
  MakeDatabase(target, "own", 1);
  MakeDatabase(candidate, "old", 5);

  AdoptLegacyDatabase(target);

  EXPECT_EQ(CountStoredDownloads(target), 1);
  EXPECT_EQ(FirstId(target), "own_0");
}

TEST_F(LegacyDatabaseTest, EmptyTargetIsReplaced) {
  MakeDatabase(target, "own", 0);
  MakeDatabase(candidate, "old", 3);

  AdoptLegacyDatabase(target);

  EXPECT_EQ(CountStoredDownloads(target), 3);
  EXPECT_EQ(FirstId(target), "old_0");
}

// A journal beside an unreadable target belongs to that file; replayed into
// the adopted copy it would damage it.
TEST_F(LegacyDatabaseTest, UnreadableTargetIsReplacedAndItsJournalDropped) {
  test::WriteFile(target, "0123456789");
  test::WriteFile(target.string() + "-journal", test::MakeContent(512));
  MakeDatabase(candidate, "old", 2);

  AdoptLegacyDatabase(target);

  EXPECT_EQ(CountStoredDownloads(target), 2);
  EXPECT_FALSE(fs::exists(target.string() + "-journal"));
}

TEST_F(LegacyDatabaseTest, CandidatesWithoutDownloadsAreSkipped) {
  MakeDatabase(candidate, "old", 0);
  AdoptLegacyDatabase(target);
  EXPECT_FALSE(fs::exists(target));

  fs::remove(candidate);
  test::WriteFile(candidate, test::MakeContent(4096));
  AdoptLegacyDatabase(target);
  EXPECT_FALSE(fs::exists(target));
}

TEST_F(LegacyDatabaseTest, CandidateAtTheTargetPathIsNeverChosen) {
  MakeDatabase(candidate, "old", 0);
  const std::string before = test::ReadFile(candidate);

  AdoptLegacyDatabase(candidate);

  EXPECT_EQ(test::ReadFile(candidate), before);
  EXPECT_FALSE(fs::exists(candidate.string() + ".adopting"));
}

TEST_F(LegacyDatabaseTest, OlderInstallationIsIgnoredWithoutLocalAppData) {
  MakeDatabase(candidate, "old", 2);
  ScopedLocalAppData unset{std::nullopt};

  AdoptLegacyDatabase(target);

  EXPECT_FALSE(fs::exists(target));
}

TEST_F(LegacyDatabaseTest, OlderInstallationIsIgnoredWhenLocalAppDataIsTooLong) {
  fs::path longFolder = folder.path();
  while (longFolder.string().size() < 270) longFolder /= std::string(40, 'x');
  MakeDatabase(longFolder / kOlderInstallationDatabase, "old", 2);
  ScopedLocalAppData tooLong{longFolder.string()};

  AdoptLegacyDatabase(target);

  EXPECT_FALSE(fs::exists(target));
}

TEST_F(LegacyDatabaseTest, FailedCopyIsNoError) {
  MakeDatabase(candidate, "old", 2);
  const fs::path blocked = folder.path() / "blocker" / "data" / "downloads.db";
  test::WriteFile(folder.path() / "blocker", "a file where a folder should be");

  EXPECT_NO_THROW(AdoptLegacyDatabase(blocked));
  EXPECT_EQ(test::ReadFile(folder.path() / "blocker"), "a file where a folder should be");
}

// A copy of the probe program inside a made-up project tree, so that all three
// candidates take part.
class LegacyCandidateOrderTest : public ::testing::Test {
 protected:
  LegacyCandidateOrderTest() {
    test::WriteFile(tree / "CMakeLists.txt", "");
    fs::create_directories(tree / "apps");
    InstallProbe(tree / "out" / "bin" / "adopt_legacy_probe");
  }

  void InstallProbe(const fs::path& where) {
    fs::create_directories(where.parent_path());
    fs::copy_file(VARNEL_ADOPT_PROBE, where, fs::copy_options::overwrite_existing);
    probe = where;
  }

  void RunProbe() {
    const std::string command = "timeout 30 '" + probe.string() + "' '" + target.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  test::TempFolder folder;
  ScopedLocalAppData localAppData{(folder.path() / "local").string()};
  fs::path tree = folder.path() / "tree";
  fs::path probe;
  fs::path projectData = tree / "data" / "downloads.db";
  fs::path developerBuild = tree / kDeveloperBuildDatabase;
  fs::path olderInstallation = folder.path() / "local" / kOlderInstallationDatabase;
  fs::path target = folder.path() / "VarnelV2" / "data" / "downloads.db";
};

TEST_F(LegacyCandidateOrderTest, OnEqualSizeTheLaterWrittenWins) {
  MakeDatabase(projectData, "project", 2);
  MakeDatabase(developerBuild, "build", 2);
  MakeDatabase(olderInstallation, "older", 2);
  ASSERT_EQ(fs::file_size(projectData), fs::file_size(olderInstallation));
  SetWriteTime(projectData, kOlder);
  SetWriteTime(developerBuild, kOlder);
  SetWriteTime(olderInstallation, kNewer);

  RunProbe();

  EXPECT_EQ(FirstId(target), "older_0");
}

TEST_F(LegacyCandidateOrderTest, OnAFullTieTheEarlierCandidateWins) {
  MakeDatabase(projectData, "project", 2);
  MakeDatabase(developerBuild, "build", 2);
  MakeDatabase(olderInstallation, "older", 2);
  for (const fs::path& path : {projectData, developerBuild, olderInstallation}) {
    SetWriteTime(path, kOlder);
  }

  RunProbe();
  EXPECT_EQ(FirstId(target), "project_0");

  fs::remove(target);
  fs::remove(projectData);
  RunProbe();
  EXPECT_EQ(FirstId(target), "build_0");
}

TEST_F(LegacyCandidateOrderTest, LargerCandidateBeatsNewerSmallerOne) {
  MakeDatabase(developerBuild, "build", 2);
  MakeDatabase(olderInstallation, "older", 60, 400);
  ASSERT_GT(fs::file_size(olderInstallation), fs::file_size(developerBuild));
  SetWriteTime(developerBuild, kNewer);
  SetWriteTime(olderInstallation, kOlder);

  RunProbe();

  EXPECT_EQ(FirstId(target), "older_0");
  EXPECT_EQ(CountStoredDownloads(target), 60);
}

TEST_F(LegacyCandidateOrderTest, OutsideAProjectTreeOnlyTheOlderInstallationCounts) {
  const fs::path plain = folder.path() / "plain";
  for (fs::path up = plain; up != up.parent_path(); up = up.parent_path()) {
    if (fs::exists(up / "CMakeLists.txt") && fs::exists(up / "apps")) {
      GTEST_SKIP() << "the temporary folder lies inside a project tree: " << up;
    }
  }
  InstallProbe(plain / "bin" / "adopt_legacy_probe");
  MakeDatabase(plain / "data" / "downloads.db", "plain", 60, 400);
  MakeDatabase(olderInstallation, "older", 1);

  RunProbe();

  EXPECT_EQ(FirstId(target), "older_0");
}

}  // namespace
}  // namespace vn

// Captures: refusals, the desktop user interface's capture socket and program.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>
#include <thread>
#include <vector>

#include "tests/native-host/host_process.h"
#include "tests/native-host/socket_peer.h"
#include "tests/support/test_environment.h"
#include "tests/support/wait_until.h"

namespace vn::test {
namespace {

constexpr const char* kDialog = R"({"mode":"dialog","ok":true})";
constexpr const char* kUnavailable = R"({"ok":false,"error":"Service unavailable"})";
constexpr const char* kImageRefusal =
    R"({"error":"Refusing to open dialog for image URL","ok":false})";

std::filesystem::path UiSocket() { return TestRoot() / "run" / "VarnelV2UiCapture"; }

// A host copy in a private folder with nothing beside or above it, so no user
// interface program can be found and only the sockets the test opens exist.
class Capture : public ::testing::Test {
 protected:
  std::optional<std::string> Ask(const std::string& message) {
    HostProcess host(program, folder.path());
    return host.Ask(message);
  }

  TempFolder folder;
  std::filesystem::path program = CopyHostInto(folder.path() / "bin");
};

TEST_F(Capture, MissingUrlIsRefused) {
  EXPECT_EQ(Ask(R"({"filename":"a.zip"})"), R"({"error":"Missing url","ok":false})");
  EXPECT_EQ(Ask(R"({"url":""})"), R"({"error":"Missing url","ok":false})");
}

TEST_F(Capture, BlobUrlIsRefused) {
  EXPECT_EQ(
      Ask(R"({"url":"blob:https://example.test/3f2a"})"),
      R"({"error":"Refusing to open dialog for blob URL without a resolved source URL","ok":false})");
}

TEST_F(Capture, CapitalBlobPrefixIsNotABlobAndGoesOn) {
  EXPECT_EQ(Ask(R"({"url":"BLOB:https://example.test/file.zip"})"), kUnavailable);
  EXPECT_EQ(Ask(R"({"url":"BLOB:https://example.test/a.png"})"), kImageRefusal);
}

TEST_F(Capture, ImageUrlsAreRefusedWhateverTheCase) {
  HostProcess host(program, folder.path());
  for (const std::string url : {"https://example.test/pic.JPG?size=2",
                                "https://example.test/a.svg#x", "https://example.test/b.webp",
                                "https://example.test/c.Jpeg?", "https://example.test/d.gif"}) {
    EXPECT_EQ(host.Ask(R"({"url":")" + url + R"("})"), kImageRefusal) << url;
  }
}

TEST_F(Capture, ImageExtensionInsideANameIsNotAnImage) {
  HostProcess host(program, folder.path());
  for (const std::string url : {"https://example.test/pic.png.zip", "https://example.test/png",
                                "https://example.test/a.pngx?y=1"}) {
    EXPECT_EQ(host.Ask(R"({"url":")" + url + R"("})"), kUnavailable) << url;
  }
}

TEST_F(Capture, UserInterfaceAcceptingTakesTheCaptureWithSortedPayload) {
  SocketPeer ui(UiSocket(), R"({"ok":true})");
  SocketPeer service(TestRoot() / "run" / "VarnelV2", R"({"id":"dl_1","ok":true})");
  EXPECT_EQ(
      Ask(R"({"url":"https://example.test/f.zip","filename":"f \"1\".zip","referrer":"https://example.test/","source":"context-menu","type":"download"})"),
      kDialog);
  EXPECT_EQ(
      ui.Requests(),
      std::vector<std::string>{
          R"({"fileName":"f \"1\".zip","referrer":"https://example.test/","source":"context-menu","url":"https://example.test/f.zip"})"});
  EXPECT_TRUE(service.Requests().empty());
}

TEST_F(Capture, UserInterfacePayloadHoldsEveryMemberWithSourceUnknownByDefault) {
  SocketPeer ui(UiSocket(), R"(accepted "ok":true.)");
  EXPECT_EQ(Ask(R"({"url":"https://example.test/é.zip"})"), kDialog);
  EXPECT_EQ(
      ui.Requests(),
      std::vector<std::string>{
          R"({"fileName":"","referrer":"","source":"unknown","url":"https://example.test/é.zip"})"});
}

TEST_F(Capture, UserInterfaceAnswerWithABlankIsARefusalAndTheNextStepRuns) {
  SocketPeer ui(UiSocket(), R"({"ok": true})");
  EXPECT_EQ(Ask(R"({"url":"https://example.test/f.zip"})"), kUnavailable);
  EXPECT_EQ(ui.Requests().size(), 1u);
}

TEST_F(Capture, UserInterfaceClosingWithoutAnAnswerIsARefusal) {
  SocketPeer ui(UiSocket(), "");
  EXPECT_EQ(Ask(R"({"url":"https://example.test/f.zip"})"), kUnavailable);
  EXPECT_EQ(ui.Requests().size(), 1u);
}

// A stand-in user interface program: writes its arguments one per line, then
// renames the file into place so the test never reads it half-written.
void WriteUiProgram(const std::filesystem::path& program, const std::filesystem::path& record) {
  std::filesystem::create_directories(program.parent_path());
  WriteFile(program, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" +
                         record.string() + ".tmp'\nmv '" + record.string() + ".tmp' '" +
                         record.string() + "'\n");
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
}

std::vector<std::string> WaitForArguments(const std::filesystem::path& record) {
  WaitUntil([&] { return std::filesystem::exists(record); }, std::chrono::seconds(5),
            std::chrono::milliseconds(5));
  std::vector<std::string> lines;
  if (!std::filesystem::exists(record)) return lines;
  std::istringstream stream(ReadFile(record));
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

TEST_F(Capture, UserInterfaceProgramBesideTheHostIsStartedWithTheCapture) {
  const auto record = folder.path() / "arguments.txt";
  WriteUiProgram(program.parent_path() / "Varnel.UI", record);
  EXPECT_EQ(
      Ask(R"({"url":"https://example.test/a b.zip?x=\"1\"","filename":"my \"file\".zip","referrer":"https://example.test/page","source":"popup"})"),
      kDialog);
  EXPECT_EQ(WaitForArguments(record),
            (std::vector<std::string>{"--capture-url=https://example.test/a b.zip?x=\"1\"",
                                      "--capture-file-name=my \"file\".zip",
                                      "--capture-referrer=https://example.test/page",
                                      "--capture-source=launch-fallback"}));
}

TEST_F(Capture, EmptyFileNameAndReferrerLeaveTheirSwitchesOff) {
  const auto record = folder.path() / "arguments.txt";
  WriteUiProgram(program.parent_path() / "Varnel.UI", record);
  EXPECT_EQ(Ask(R"({"url":"https://example.test/f.zip","filename":"","source":"popup"})"), kDialog);
  EXPECT_EQ(WaitForArguments(record),
            (std::vector<std::string>{"--capture-url=https://example.test/f.zip",
                                      "--capture-source=launch-fallback"}));
}

TEST_F(Capture, UserInterfaceProgramIsFoundInTheProjectsBuildOutput) {
  // The host sits in a build folder of a project tree; the user interface in
  // the tree's Debug or Release output.
  const auto root = folder.path() / "tree";
  std::filesystem::create_directories(root / "apps");
  WriteFile(root / "CMakeLists.txt", "");
  const auto host = CopyHostInto(root / "build" / "apps" / "native-host");
  for (const std::string configuration : {"Release", "Debug"}) {
    const auto record = folder.path() / (configuration + ".txt");
    WriteUiProgram(root / "apps/ui/Varnel.UI/bin" / configuration / "net8.0-windows/Varnel.UI",
                   record);
    HostProcess process(host, folder.path());
    EXPECT_EQ(process.Ask(R"({"url":"https://example.test/f.zip"})"), kDialog);
    EXPECT_EQ(WaitForArguments(record).size(), 2u) << configuration;
  }
}

TEST_F(Capture, UserInterfaceProgramThatCannotStartFallsThroughToTheService) {
  const auto ui = program.parent_path() / "Varnel.UI";
  WriteFile(ui, "#!/bin/sh\n");
  std::filesystem::permissions(ui, std::filesystem::perms::owner_read);
  EXPECT_EQ(Ask(R"({"url":"https://example.test/f.zip"})"), kUnavailable);
}

// The started program must not share the browser's streams: what it printed
// would corrupt the message framing, and while it held the output open the
// browser would not see the host end.
TEST_F(Capture, UserInterfaceProgramDoesNotShareTheBrowsersStreams) {
  const auto ui = program.parent_path() / "Varnel.UI";
  WriteFile(ui, "#!/bin/sh\necho started\nexec sleep 3\n");
  std::filesystem::permissions(ui, std::filesystem::perms::owner_all);
  HostProcess host(program, folder.path());
  EXPECT_EQ(host.Ask(R"({"url":"https://example.test/f.zip"})"), kDialog);
  host.CloseInput();
  EXPECT_EQ(host.WaitForExit(), 0);
  EXPECT_TRUE(host.OutputEndsEmpty(std::chrono::milliseconds(1000)));
}

TEST_F(Capture, UserInterfaceSocketIsTriedBeforeTheProgram) {
  const auto record = folder.path() / "arguments.txt";
  const auto ui = program.parent_path() / "Varnel.UI";
  // Appends its first argument, so a start for the first capture would show
  // beside the start for the second one.
  WriteFile(ui, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + record.string() + "'\n");
  std::filesystem::permissions(ui, std::filesystem::perms::owner_all);
  {
    SocketPeer peer(UiSocket(), R"({"ok":true})");
    EXPECT_EQ(Ask(R"({"url":"https://example.test/first.zip"})"), kDialog);
    EXPECT_EQ(peer.Requests().size(), 1u);
  }
  // With the socket gone the program starts; its line is the only one.
  EXPECT_EQ(Ask(R"({"url":"https://example.test/second.zip"})"), kDialog);
  WaitUntil([&] { return ReadFile(record).find('\n') != std::string::npos; },
            std::chrono::seconds(5), std::chrono::milliseconds(5));
  EXPECT_EQ(ReadFile(record), "--capture-url=https://example.test/second.zip\n");
}

}  // namespace
}  // namespace vn::test

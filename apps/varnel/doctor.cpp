#include "apps/varnel/doctor.h"

#include <algorithm>
#include <fstream>
#include <thread>

#include "apps/protocol/command_names.h"
#include "apps/protocol/error_texts.h"
#include "apps/protocol/socket_names.h"
#include "apps/varnel/browser_manifests.h"
#include "apps/varnel/byte_units.h"
#include "apps/varnel/cli_errors.h"
#include "apps/varnel/database_count.h"
#include "apps/varnel/program_locations.h"
#include "apps/varnel/task_view.h"
#include "platform/background_process.h"
#include "platform/locations.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/set_aside.h"

namespace vn::cli {
namespace {

constexpr std::chrono::milliseconds kProbeTimeout{2000};
constexpr auto kSocketMode =
    std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
// The torrent engine answers a magnet without an info-hash with this prefix,
// and refuses everything while it does not run.
constexpr const char* kMagnetProbe = "magnet:?xt=urn:btih:";
// The variables that choose the data root: a service started with the same
// values works on the same files.
constexpr const char* kDataRootVariables[] = {"LOCALAPPDATA", "XDG_DATA_HOME", "HOME"};
constexpr const char* kStartFix = "varnel service start";
constexpr int kDatabaseAttempts = 10;
constexpr std::chrono::milliseconds kDatabaseRetryPause{100};

struct Check {
  std::string what;
  bool passed;
  std::string fix;
};

Check Pass(std::string what) { return {std::move(what), true, {}}; }
Check Fail(std::string what, std::string fix) { return {std::move(what), false, std::move(fix)}; }

// What the checks share: found once, up front.
struct Findings {
  std::filesystem::path socket;
  std::string socketProblem;  // the runtime folder is unusable
  bool socketExists = false;
  std::optional<int> servicePid;
  std::filesystem::path dataRoot;
  std::filesystem::path database;
};

std::filesystem::path NearestExisting(std::filesystem::path folder) {
  std::error_code error;
  while (!folder.empty() && !std::filesystem::exists(folder, error)) {
    if (folder == folder.parent_path()) break;
    folder = folder.parent_path();
  }
  return folder;
}

// A folder is usable when it, or the nearest folder above that exists, takes
// a new file.
Check FolderCheck(const std::string& name, const std::filesystem::path& folder,
                  const std::string& fix) {
  const auto existing = NearestExisting(folder);
  const auto probe = existing / ".varnel-doctor-probe";
  std::error_code error;
  bool writable = std::filesystem::is_directory(existing, error);
  if (writable) {
    std::ofstream(probe).put('x');
    writable = std::filesystem::remove(probe, error);
  }
  const auto space = std::filesystem::space(existing, error);
  std::string what = name + " " + folder.string();
  if (!writable) return Fail(what + " is not writable", fix);
  what += existing == folder ? " is writable" : " can be created";
  if (!error) what += ", " + FormatBytes(static_cast<std::int64_t>(space.available)) + " free";
  return Pass(what);
}

Check ServiceCheck(const Findings& found) {
  if (!found.socketProblem.empty()) {
    return Fail("the socket cannot be used: " + found.socketProblem,
                "make $XDG_RUNTIME_DIR a folder of yours with mode 0700");
  }
  if (!found.servicePid) {
    return Fail("the download service does not answer on " + found.socket.string(), kStartFix);
  }
  const std::string where =
      " (pid " + std::to_string(*found.servicePid) + ") on " + found.socket.string();
#ifdef _WIN32
  // A pipe has no owner and mode to look at: what counts is that the process
  // serving it runs as this user.
  const auto mine = platform::ProcessOwnedByCurrentUser(*found.servicePid);
  if (!mine) {
    return Pass("the download service answers" + where +
                "; whose it is was not checked (its process's user cannot be read)");
  }
  if (!*mine) {
    return Fail("the pipe" + where + " is served by another user's process",
                "end that process, then " + std::string(kStartFix));
  }
  return Pass("the download service answers" + where + ", run as you");
#endif
  if (!platform::OwnedByCurrentUser(found.socket)) {
    return Fail("the socket" + where + " is not yours",
                "rm " + found.socket.string() + " && " + kStartFix);
  }
  std::error_code error;
  const auto mode = std::filesystem::symlink_status(found.socket, error).permissions() &
                    std::filesystem::perms::all;
  if (error || mode != kSocketMode) {
    return Fail("the socket" + where + " is open to others", "chmod 600 " + found.socket.string());
  }
  return Pass("the download service answers" + where + ", socket yours with mode 0600");
}

Check DatabaseCheck(const Findings& found) {
  std::error_code error;
  if (!std::filesystem::exists(found.database, error)) {
    return Pass("the database " + found.database.string() +
                " is not there yet (the service makes it)");
  }
  // The service may hold the write lock for a moment; only a lasting failure counts.
  int count = CountDatabaseDownloads(found.database);
  if (count == kDatabaseNotCounted) {
    return Pass("the database " + found.database.string() + " is there (this build cannot open it)");
  }
  for (int attempt = 1; count < 0 && attempt < kDatabaseAttempts; ++attempt) {
    std::this_thread::sleep_for(kDatabaseRetryPause);
    count = CountDatabaseDownloads(found.database);
  }
  if (count < 0) {
    return Fail("the database " + found.database.string() + " does not open",
                "move it aside (mv " + found.database.string() + " " + found.database.string() +
                    ".broken), then varnel service stop && " + kStartFix);
  }
  const std::string listed = "the database opens and lists " + std::to_string(count) + " downloads";
  // A damaged file the service kept aside may hold downloads worth recovering.
  const auto setAside = platform::FindSetAsideFiles(found.database);
  if (setAside.empty()) return Pass(listed);
  return Pass(listed + "; a damaged earlier one was kept as " + setAside.back().string() +
              " (sqlite3 " + setAside.back().string() + " .recover may get its rows back)");
}

Check TorrentCheck(const ServiceClient& client, const Findings& found) {
  if (!found.servicePid) return Fail("the torrent engine cannot be asked", kStartFix);
  std::string error;
  try {
    const auto answer =
        ServiceClient::CheckAnswer(client.Exchange({{member::kType, command::kEnqueueTorrent},
                                                    {member::kMagnet, kMagnetProbe}}),
                                   "");
    error = "it accepted a magnet link without an info-hash";
    (void)answer;
  } catch (const CommandRefused& refused) {
    error = refused.what();
  } catch (const std::exception& failed) {
    error = failed.what();
  }
  if (error.starts_with(error_text::kInvalidMagnet)) return Pass("the torrent engine is running");
  return Fail(
      "the torrent engine is not running (" + error + ")",
      "varnel service stop && " + std::string(kStartFix) + "; see " + ServiceLogPath().string());
}

Check BrowserCheck() {
  std::vector<std::string> fine;
  std::vector<std::string> missing;
  for (const auto& browser : KnownBrowsers()) {
    if (!IsFound(browser)) continue;
    const auto state = ReadManifest(ManifestPath(browser), browser.family);
    (state.valid && state.hostExecutable ? fine : missing).push_back(browser.title);
  }
  const auto join = [](const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
  };
  if (!missing.empty()) {
    return Fail("no usable browser manifest for " + join(missing),
                "varnel browser install --chrome-extension-id ID --firefox-extension-id ID");
  }
  if (fine.empty()) return Pass("no browser found for this user; no manifest needed");
  return Pass("browser manifests in place for " + join(fine));
}

Check SecondServiceCheck(const Findings& found) {
  const auto program = FindServiceBinary();
  std::vector<int> others;
  if (!program.empty()) {
    for (const int pid : platform::ProcessesRunning(program)) {
      if (pid == found.servicePid) continue;
      const bool sameData = std::all_of(
          std::begin(kDataRootVariables), std::end(kDataRootVariables), [&](const char* name) {
            return platform::EnvironmentOf(pid, name) == platform::GetEnvironment(name);
          });
      if (sameData) others.push_back(pid);
    }
  }
  if (!others.empty()) {
    std::string pids;
    for (const int pid : others) {
      pids += ' ';
      pids += std::to_string(pid);
    }
    return Fail("another service works on the same data root (pid" + pids + ")",
                "stop it: kill" + pids);
  }
  if (found.socketExists && !found.servicePid) {
    return Fail("stale socket " + found.socket.string() + " (nothing listens)",
                "rm " + found.socket.string() + " (or " + kStartFix + ", which replaces it)");
  }
  return Pass("no second service, no stale socket");
}

Findings Find() {
  Findings found;
  try {
    found.socket = platform::PipePath(kServiceSocketName);
  } catch (const std::exception& error) {
    found.socketProblem = error.what();
  }
  std::error_code error;
  found.socketExists =
      !found.socket.empty() &&
      std::filesystem::exists(std::filesystem::symlink_status(found.socket, error));
  found.servicePid = platform::PipeServerPid(kServiceSocketName, kProbeTimeout);
  found.dataRoot = platform::ResolveDataRoot();
  found.database = found.dataRoot / "data" / "downloads.db";
  return found;
}

}  // namespace

int RunDoctor(const ServiceClient& client, Console& console) {
  const Findings found = Find();
  const std::vector<Check> checks = {
      ServiceCheck(found),
      FolderCheck("data root", found.dataRoot,
                  "make it writable (chmod u+w), or point LOCALAPPDATA or XDG_DATA_HOME at a "
                  "writable folder"),
      FolderCheck("download folder", platform::DefaultDownloadFolder(),
                  "make it writable (chmod u+w), or point XDG_DOWNLOAD_DIR at a writable folder"),
      DatabaseCheck(found),
      TorrentCheck(client, found),
      BrowserCheck(),
      SecondServiceCheck(found),
  };
  bool allPassed = true;
  for (const auto& check : checks) {
    console.Line((check.passed ? "[ ok ] " : "[FAIL] ") + Printable(check.what));
    if (!check.passed) console.Line("       fix: " + Printable(check.fix));
    allPassed = allPassed && check.passed;
  }
  return allPassed ? kExitSuccess : kExitDownloadFailed;
}

}  // namespace vn::cli

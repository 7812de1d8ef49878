#include "apps/varnel/command_line.h"

#include <CLI/CLI.hpp>
#include <functional>
#include <iostream>

#include "apps/protocol/browser_host_names.h"
#include "apps/varnel/batch_add.h"
#include "apps/varnel/browser_commands.h"
#include "apps/varnel/cli_errors.h"
#include "apps/varnel/commands.h"
#include "apps/varnel/completion_script.h"
#include "apps/varnel/doctor.h"
#include "apps/varnel/service_control.h"

namespace vn::cli {
namespace {

constexpr const char* kDescription =
    "varnel: talk to the Varnel download service. Commands that need the service start it "
    "when it is not running (unless --no-start is given).";

constexpr const char* kFooter =
    "Sizes and rates: 1500, 500K, 2M, 2MiB, 1.5 GiB (K, M, G, T are powers of 1024).\n"
    "\n"
    "Exit codes:\n"
    "  0    success\n"
    "  1    the download failed, or with --wait ended other than Completed; a doctor check "
    "failed; add -i met a bad line; browser install or uninstall left a browser's manifest "
    "undone\n"
    "  2    usage error\n"
    "  3    the download service is unavailable\n"
    "  4    the service refused the command\n"
    "  130  Ctrl-C while waiting (--wait); the download goes on in the service\n"
    "  143  SIGTERM while waiting (--wait); the download goes on in the service\n";

// varnel --help lists the subcommands in these groups, as the README does.
constexpr const char* kAddGroup = "Add downloads";
constexpr const char* kControlGroup = "See and control downloads";
constexpr const char* kSetupGroup = "Set up";

constexpr int kMaxConnections = 32;

using Action = std::function<int()>;

// closing: what is printed when the download ends, if anything.
void AddWaitFlag(CLI::App* command, bool& wait, const std::string& closing = "") {
  command->add_flag("--wait", wait,
                    "Show progress until the download ends" + closing +
                        "; exit 0 only when it completed. Ctrl-C stops waiting, the download "
                        "goes on");
}

// The tree completion scripts are made from. A command whose first positional
// is named "id" completes download ids there.
CompletionCommand CompletionTree(const CLI::App& app) {
  CompletionCommand command{app.get_name(), app.get_description(), {}, {}, false, {}};
  bool firstPositional = true;
  for (const CLI::Option* option : app.get_options()) {
    if (!option->nonpositional()) {
      if (firstPositional) command.completesId = option->get_name() == "id";
      firstPositional = false;
      continue;
    }
    auto& names = option->get_items_expected_max() == 0 ? command.flags : command.valueOptions;
    for (const auto& name : option->get_snames()) names.push_back("-" + name);
    for (const auto& name : option->get_lnames()) names.push_back("--" + name);
  }
  for (const CLI::App* sub : app.get_subcommands({})) {
    command.subcommands.push_back(CompletionTree(*sub));
  }
  return command;
}

// service, browser, doctor and completion: set-up commands, which never start
// the service on demand.
void AddSetupCommands(CLI::App& app, const ServiceClient& client, Console& console,
                      BrowserInstallOptions& install, Action& action) {
  auto* service = app.add_subcommand("service", "Start, stop or show the download service");
  service->group(kSetupGroup);
  service->require_subcommand(1);
  service->add_subcommand("start", "Start the service in the background")->callback([&] {
    action = [&] { return RunServiceStart(console); };
  });
  service
      ->add_subcommand(
          "stop",
          "Ask the running service to end, and wait for it; a listener on its socket that "
          "is not the service is named and left alone")
      ->callback([&] { action = [&] { return RunServiceStop(console); }; });
  service->add_subcommand("status", "Show the pid, socket, data root and number of downloads")
      ->callback([&] { action = [&] { return RunServiceStatus(client, console); }; });

  auto* browser =
      app.add_subcommand("browser", "Hook the native-messaging host up to this user's browsers");
  browser->group(kSetupGroup);
  browser->require_subcommand(1);
  auto* installCommand = browser->add_subcommand(
      "install",
      "Write the manifest for every browser found; one that varnel did not write is kept "
      "(see --force), and nothing is written through a symbolic link");
  installCommand->add_option("--chrome-extension-id", install.chromeExtensionIds,
                             "Id of another extension for Chrome, Chromium, Edge and Brave, "
                             "allowed besides Varnel's own (repeatable)");
  installCommand->add_option("--firefox-extension-id", install.firefoxExtensionId,
                             "Id of another Firefox extension, allowed besides Varnel's own");
  installCommand->add_flag("--force", install.force,
                           "Also replace a manifest that varnel did not write or that was "
                           "changed since; the old one is kept beside it as " +
                               std::string(kNativeHostName) + ".json.bak-<UTC time>");
  installCommand->callback([&] { action = [&] { return RunBrowserInstall(console, install); }; });
  browser
      ->add_subcommand("uninstall",
                       "Remove the manifests that install wrote and that nobody changed since")
      ->callback([&] { action = [&] { return RunBrowserUninstall(console); }; });
  browser->add_subcommand("status", "List each browser, its manifest and its last handshake")
      ->callback([&] { action = [&] { return RunBrowserStatus(console); }; });

  auto* doctor = app.add_subcommand("doctor", "Check the set-up; each failed check names its fix");
  doctor->group(kSetupGroup);
  doctor->callback([&] { action = [&] { return RunDoctor(client, console); }; });

  auto* completion = app.add_subcommand(
      "completion",
      "Print the shell completion script for bash, zsh or fish; it completes subcommands, "
      "options and the ids of the running service's downloads");
  completion->group(kSetupGroup);
  completion->require_subcommand(1);
  for (const auto& shell : CompletionShells()) {
    completion->add_subcommand(shell, "The " + shell + " script")->callback([&, shell] {
      action = [&, shell] {
        std::cout << CompletionScript(CompletionTree(app), shell);
        return kExitSuccess;
      };
    });
  }
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
  Console console;
  ServiceClient client;
  Action action;
  bool noStart = false;

  CLI::App app{kDescription, "varnel"};
  app.footer(kFooter);
  app.require_subcommand(1);
  // Subcommands pass options they do not know up here: `varnel add URL --no-start`.
  app.fallthrough();
  app.add_flag("--no-start", noStart,
               "Never start the download service; fail with exit code 3 when it is not running");

  AddOptions add;
  std::string urlList;
  int connections = 0;
  bool addWait = false;
  auto* addCommand = app.add_subcommand("add", "Download a URL over HTTP or HTTPS; prints its id");
  addCommand->group(kAddGroup);
  auto* urlOption = addCommand->add_option("url", add.url, "http:// or https:// URL");
  addCommand
      ->add_option("-i,--input-file", urlList,
                   "Download every URL of this file (one a line, - for standard input; "
                   "blank lines and # comments skipped) with the options given; prints one "
                   "id a line. Every line is checked first: each bad one is reported as "
                   "FILE:LINE: reason and skipped, the others are enqueued, and the exit code "
                   "is 1")
      ->excludes(urlOption);
  addCommand->add_option("-o,--output-dir", add.outputFolder,
                         "Folder for the file (relative to here); default: the service's");
  addCommand->add_option("-O,--output-name", add.fileName,
                         "File name; default: the last part of the URL");
  auto* connectionsOption =
      addCommand
          ->add_option("-x,--connections", connections,
                       "Parallel connections, 1 to 32; the service may use fewer")
          ->check(CLI::Range(1, kMaxConnections));
  addCommand->add_option("--limit", add.limit, "Speed limit, e.g. 500K (bytes per second)");
  addCommand->add_option("--sha256", add.sha256, "Expected SHA-256 of the file, 64 hex digits");
  addCommand->add_option("--referer", add.referrer, "Referer header to send");
  addCommand->add_option("--user-agent", add.userAgent, "User-Agent header to send");
  AddWaitFlag(addCommand, addWait,
              ", then (for one URL) print its name, size, time, average rate and SHA-256 "
              "(verified against --sha256, else computed)");
  addCommand->callback([&] {
    if (connectionsOption->count() > 0) add.connections = connections;
    if (!urlList.empty()) {
      action = [&] { return RunAddBatch(client, console, add, urlList, addWait); };
    } else if (urlOption->count() > 0) {
      action = [&] { return RunAdd(client, console, add, addWait); };
    } else {
      throw CLI::RequiredError("url or --input-file");
    }
  });

  TorrentOptions torrent;
  bool torrentWait = false;
  auto* torrentCommand =
      app.add_subcommand("torrent", "Download a magnet link or .torrent file; prints its id");
  torrentCommand->group(kAddGroup);
  torrentCommand->add_option("source", torrent.source, "magnet:... link or .torrent file")
      ->required();
  torrentCommand->add_option("-o,--output-dir", torrent.outputFolder,
                             "Folder for the files (relative to here); default: the service's");
  AddWaitFlag(torrentCommand, torrentWait);
  torrentCommand->callback(
      [&] { action = [&] { return RunTorrent(client, console, torrent, torrentWait); }; });

  bool json = false;
  bool ids = false;
  auto* listCommand = app.add_subcommand("list", "List all downloads");
  listCommand->group(kControlGroup);
  auto* jsonFlag = listCommand->add_flag("--json", json, "Print the service's answer unchanged");
  listCommand->add_flag("--ids", ids, "Print only the ids, one a line")->excludes(jsonFlag);
  listCommand->callback([&] {
    const ListForm form = json ? ListForm::kJson : ids ? ListForm::kIds : ListForm::kTable;
    action = [&, form] { return RunList(client, console, form); };
  });

  std::string id;
  const std::pair<const char*, const char*> controls[] = {
      {"pause", "Pause a download"},
      {"resume", "Resume a paused, failed or cancelled download"},
      {"cancel", "Cancel a download (its partial data is removed)"},
      {"retry", "Start a download again from the beginning"},
  };
  for (const auto& [verb, help] : controls) {
    auto* command = app.add_subcommand(verb, help);
    command->group(kControlGroup);
    command->add_option("id", id, "Download id (see `varnel list`)")->required();
    command->callback([&, verb = std::string(verb)] {
      action = [&, verb] { return RunControl(client, console, verb, id); };
    });
  }

  std::string newUrl;
  auto* refreshCommand = app.add_subcommand(
      "refresh",
      "Give a paused, failed or cancelled download a new URL (an expired link) and "
      "resume it; what it has is kept when the new URL serves the same file");
  refreshCommand->group(kControlGroup);
  refreshCommand->add_option("id", id, "Download id (see `varnel list`)")->required();
  refreshCommand->add_option("url", newUrl, "http:// or https:// URL")->required();
  refreshCommand->callback(
      [&] { action = [&] { return RunRefresh(client, console, id, newUrl); }; });

  bool deleteFile = false;
  auto* deleteCommand = app.add_subcommand("delete", "Remove a download from the list");
  deleteCommand->group(kControlGroup);
  deleteCommand->add_option("id", id, "Download id (see `varnel list`)")->required();
  deleteCommand->add_flag("--delete-file", deleteFile, "Also delete the downloaded file");
  deleteCommand->callback(
      [&] { action = [&] { return RunDelete(client, console, id, deleteFile); }; });

  std::string rate;
  std::string globalRate;
  auto* limitCommand = app.add_subcommand(
      "limit", "Limit a download's speed, or all downloads' together; or lift the limit");
  limitCommand->group(kControlGroup);
  auto* idOption = limitCommand->add_option("id", id, "Download id (see `varnel list`)");
  auto* rateOption = limitCommand->add_option("rate", rate, "Bytes per second (e.g. 2M), or off");
  limitCommand
      ->add_option("--global", globalRate,
                   "Limit the sum of all downloads, HTTP and torrent, to this rate (e.g. 5M), "
                   "on top of each one's own limit; off lifts it. Lasts until the service "
                   "stops")
      ->excludes(idOption)
      ->excludes(rateOption);
  limitCommand->callback([&] {
    if (!globalRate.empty()) {
      action = [&] { return RunGlobalLimit(client, console, globalRate); };
    } else if (idOption->count() > 0 && rateOption->count() > 0) {
      action = [&] { return RunLimit(client, console, id, rate); };
    } else {
      throw CLI::RequiredError("id and rate, or --global");
    }
  });

  auto* watchCommand = app.add_subcommand("watch", "Show all downloads live until Ctrl-C");
  watchCommand->group(kControlGroup);
  watchCommand->callback([&] { action = [&] { return RunWatch(client, console); }; });

  BrowserInstallOptions install;
  AddSetupCommands(app, client, console, install, action);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return app.exit(error);  // --help
    console.Error(std::string(error.what()) + " (see `varnel --help`)");
    return kExitUsage;
  }

  // Only the commands that work through the service start it on demand.
  const bool startsService = !app.got_subcommand("service") && !app.got_subcommand("browser") &&
                             !app.got_subcommand("doctor") && !app.got_subcommand("completion");
  if (startsService && !noStart) {
    client.StartOnDemand([&] { StartServiceOnDemand(console); });
  }

  try {
    return action();
  } catch (const UsageError& error) {
    console.Error(error.what());
    return kExitUsage;
  } catch (const ServiceUnavailable& error) {
    console.Error(error.what());
    return kExitServiceUnavailable;
  } catch (const CommandRefused& error) {
    console.Error(error.what());
    return kExitRefused;
  } catch (const std::exception& error) {
    // DownloadFailed, and whatever else went wrong (an unreadable list entry).
    console.Error(error.what());
    return kExitDownloadFailed;
  }
}

}  // namespace vn::cli

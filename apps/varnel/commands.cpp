#include "apps/varnel/commands.h"

#include <filesystem>
#include <iostream>
#include <map>
#include <optional>

#include "apps/protocol/command_names.h"
#include "apps/protocol/download_ids.h"
#include "apps/varnel/byte_units.h"
#include "apps/varnel/cli_errors.h"
#include "apps/varnel/download_table.h"
#include "apps/varnel/download_waiter.h"
#include "apps/varnel/task_view.h"
#include "platform/process.h"

namespace vn::cli {
namespace {

struct ControlVerb {
  const char* requestType;
  const char* done;  // "Paused dl_1."
};

const std::map<std::string, ControlVerb>& ControlVerbs() {
  static const std::map<std::string, ControlVerb> verbs = {
      {"pause", {command::kPauseDownload, "Paused"}},
      {"resume", {command::kResumeDownload, "Resumed"}},
      {"cancel", {command::kCancelDownload, "Cancelled"}},
      {"retry", {command::kRetryDownload, "Restarted"}},
  };
  return verbs;
}

// Torrent commands are answered {"ok":false} without a reason.
std::string RefusedText(const std::string& verb, const std::string& id) {
  if (IsTorrentId(id)) {
    return "the service could not " + verb + " torrent " + Printable(id) +
           " (no such torrent, or the torrent engine is not running)";
  }
  return "the service refused to " + verb + " " + Printable(id);
}

std::filesystem::path CurrentFolder() {
  std::error_code error;
  auto folder = std::filesystem::current_path(error);
  if (error) throw UsageError("the current folder cannot be read; give absolute paths");
  return folder;
}

std::vector<TaskView> ListTasks(const ServiceClient& client) {
  return ReadTaskList(
      client.Call(ListDownloadsRequest(), "the service refused to list its downloads"));
}

int Enqueued(const ServiceClient& client, Console& console, const nlohmann::json& answer,
             bool wait) {
  if (!answer.contains(member::kId) || !answer[member::kId].is_string()) {
    throw ServiceUnavailable("the download service answered without an id");
  }
  const std::string id = answer[member::kId].get<std::string>();
  console.Line(Printable(id));
  if (!wait) return kExitSuccess;
  return WaitForDownload(client, console, id);
}

// With --wait, Ctrl-C from the start on only ends the waiting: a download that
// the service has accepted must not look lost.
void CatchCtrlCWhenWaiting(bool wait) {
  if (wait) platform::InstallStopSignalHandlers();
}

}  // namespace

int RunAdd(const ServiceClient& client, Console& console, const AddOptions& options, bool wait) {
  CatchCtrlCWhenWaiting(wait);
  const auto request = EnqueueDownloadRequest(options, CurrentFolder());
  return Enqueued(client, console, client.Call(request, "the service refused the download"), wait);
}

int RunTorrent(const ServiceClient& client, Console& console, const TorrentOptions& options,
               bool wait) {
  CatchCtrlCWhenWaiting(wait);
  const auto request = EnqueueTorrentRequest(options, CurrentFolder());
  return Enqueued(client, console, client.Call(request, "the service refused the torrent"), wait);
}

int RunList(const ServiceClient& client, Console& console, ListForm form) {
  const std::string answer = client.Exchange(ListDownloadsRequest());
  const auto parsed =
      ServiceClient::CheckAnswer(answer, "the service refused to list its downloads");
  if (form == ListForm::kJson) {
    console.Line(answer);
    return kExitSuccess;
  }
  const auto tasks = ReadTaskList(parsed);
  if (form == ListForm::kIds) {
    for (const auto& task : tasks) console.Line(Printable(task.id));
    return kExitSuccess;
  }
  if (tasks.empty()) {
    console.Line("No downloads.");
    return kExitSuccess;
  }
  for (const auto& line : RenderDownloadTable(tasks, console.Width())) console.Line(line);
  return kExitSuccess;
}

int RunControl(const ServiceClient& client, Console& console, const std::string& verb,
               const std::string& id) {
  const ControlVerb& control = ControlVerbs().at(verb);
  client.Call(ControlRequest(control.requestType, id), RefusedText(verb, id));
  console.Line(std::string(control.done) + " " + Printable(id) + ".");
  return kExitSuccess;
}

int RunRefresh(const ServiceClient& client, Console& console, const std::string& id,
               const std::string& url) {
  client.Call(UpdateUrlRequest(id, url), RefusedText("refresh", id));
  const ControlVerb& resume = ControlVerbs().at("resume");
  client.Call(ControlRequest(resume.requestType, id), RefusedText("resume", id));
  console.Line("Resumed " + Printable(id) + " from its new URL.");
  return kExitSuccess;
}

int RunDelete(const ServiceClient& client, Console& console, const std::string& id,
              bool deleteFile) {
  client.Call(DeleteRequest(id, deleteFile), RefusedText("delete", id));
  console.Line("Deleted " + Printable(id) + (deleteFile ? " and its file." : "."));
  return kExitSuccess;
}

int RunLimit(const ServiceClient& client, Console& console, const std::string& id,
             const std::string& rate) {
  const auto request = SpeedLimitRequest(id, rate);
  client.Call(request, RefusedText("limit", id));
  const std::int64_t limit = request[member::kMaxSpeedBytesPerSecond].get<std::int64_t>();
  console.Line(request[member::kEnabled].get<bool>()
                   ? "Limited " + Printable(id) + " to " + FormatRate(limit) + "."
                   : "Removed the speed limit of " + Printable(id) + ".");
  return kExitSuccess;
}

int RunGlobalLimit(const ServiceClient& client, Console& console, const std::string& rate) {
  const auto request = GlobalSpeedLimitRequest(rate);
  client.Call(request, "the service refused the global speed limit");
  const std::int64_t limit = request[member::kMaxSpeedBytesPerSecond].get<std::int64_t>();
  console.Line(request[member::kEnabled].get<bool>()
                   ? "Limited all downloads together to " + FormatRate(limit) + "."
                   : "Removed the global speed limit.");
  return kExitSuccess;
}

int RunWatch(const ServiceClient& client, Console& console) {
  platform::InstallStopSignalHandlers();
  std::vector<std::string> shown;
  std::optional<std::chrono::steady_clock::time_point> lastPrinted;
  while (!platform::StopSignalReceived()) {
    const auto tasks = ListTasks(client);
    std::vector<std::string> lines = tasks.empty() ? std::vector<std::string>{"No downloads."}
                                                   : RenderDownloadTable(tasks, console.Width());
    const auto now = std::chrono::steady_clock::now();
    if (console.IsTerminal()) {
      lines.push_back("");
      lines.push_back("Refreshing twice a second; Ctrl-C to quit.");
      console.Repaint(lines);
    } else if (lines != shown && (!lastPrinted || now - *lastPrinted >= kPlainProgressInterval)) {
      // Logs get a snapshot when something changed, no more than every few seconds.
      if (lastPrinted) console.Line("");
      for (const auto& line : lines) console.Line(line);
      shown = lines;
      lastPrinted = now;
    }
    if (!SleepUnlessStopped(kPollInterval)) break;
  }
  return kExitSuccess;
}

}  // namespace vn::cli

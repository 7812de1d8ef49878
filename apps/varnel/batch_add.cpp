#include "apps/varnel/batch_add.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <unordered_set>

#include "apps/varnel/byte_units.h"
#include "apps/varnel/cli_errors.h"
#include "apps/varnel/download_waiter.h"
#include "apps/varnel/task_view.h"
#include "platform/process.h"

namespace vn::cli {
namespace {

constexpr const char* kBlanks = " \t\r";

struct BatchProgress {
  std::size_t ended = 0;
  std::size_t completed = 0;
  std::int64_t bytesDone = 0;
  std::int64_t rate = 0;
};

bool HasEnded(const std::string& status) {
  return status == "Completed" || status == "Failed" || status == "Cancelled" ||
         status == "Paused";
}

// A download that left the list counts as ended, not completed.
BatchProgress Summarize(const std::vector<TaskView>& listed,
                        const std::unordered_set<std::string>& ids) {
  BatchProgress progress;
  std::size_t found = 0;
  for (const TaskView& task : listed) {
    if (ids.count(task.id) == 0) continue;
    ++found;
    progress.bytesDone += std::max<std::int64_t>(0, task.downloadedBytes);
    progress.rate += std::max<std::int64_t>(0, task.speedBytesPerSecond);
    if (HasEnded(task.status)) ++progress.ended;
    if (task.status == "Completed") ++progress.completed;
  }
  progress.ended += ids.size() - found;
  return progress;
}

std::string ProgressText(const BatchProgress& progress, std::size_t total) {
  return std::to_string(progress.completed) + "/" + std::to_string(total) + " files done, " +
         FormatBytes(progress.bytesDone) + ", " + FormatRate(progress.rate);
}

int WaitForBatch(const ServiceClient& client, Console& console,
                 const std::unordered_set<std::string>& ids) {
  std::optional<std::chrono::steady_clock::time_point> lastPlainLine;
  for (;;) {
    const auto listed = ReadTaskList(
        client.Call({{"type", "list_downloads"}}, "the service refused to list its downloads"));
    const BatchProgress progress = Summarize(listed, ids);
    const std::string text = ProgressText(progress, ids.size());
    const bool done = progress.ended == ids.size();
    const auto now = std::chrono::steady_clock::now();
    if (console.IsTerminal()) {
      console.Redraw(text);
    } else if (done || !lastPlainLine || now - *lastPlainLine >= kPlainProgressInterval) {
      console.Line(text);
      lastPlainLine = now;
    }
    if (done) {
      console.EndRedraw();
      if (progress.completed == ids.size()) return kExitSuccess;
      throw DownloadFailed(std::to_string(ids.size() - progress.completed) + " of " +
                           std::to_string(ids.size()) + " downloads did not complete");
    }
    if (!SleepUnlessStopped(kPollInterval)) {
      console.EndRedraw();
      console.Error("stopped waiting; the downloads go on in the service (see `varnel list`)");
      return platform::ReceivedStopSignal() == platform::StopSignal::kTerminate ? kExitTerminated
                                                                                : kExitInterrupted;
    }
  }
}

}  // namespace

std::vector<std::string> ReadUrlList(std::istream& input) {
  std::vector<std::string> urls;
  std::string line;
  while (std::getline(input, line)) {
    const auto first = line.find_first_not_of(kBlanks);
    if (first == std::string::npos || line[first] == '#') continue;
    urls.push_back(line.substr(first, line.find_last_not_of(kBlanks) - first + 1));
  }
  return urls;
}

int RunAddBatch(const ServiceClient& client, Console& console, const AddOptions& options,
                const std::string& source, bool wait) {
  if (wait) platform::InstallStopSignalHandlers();
  std::vector<std::string> urls;
  if (source == "-") {
    urls = ReadUrlList(std::cin);
  } else {
    std::ifstream file(source);
    if (!file) throw UsageError("cannot read the URL list " + Printable(source));
    urls = ReadUrlList(file);
  }
  if (urls.empty()) throw UsageError("the URL list " + Printable(source) + " holds no URL");

  std::error_code error;
  const auto here = std::filesystem::current_path(error);
  if (error) throw UsageError("the current folder cannot be read; give absolute paths");
  std::unordered_set<std::string> ids;
  AddOptions one = options;
  for (const std::string& url : urls) {
    one.url = url;
    const auto answer =
        client.Call(EnqueueDownloadRequest(one, here), "the service refused " + Printable(url));
    if (!answer.contains("id") || !answer["id"].is_string()) {
      throw ServiceUnavailable("the download service answered without an id");
    }
    const std::string id = answer["id"].get<std::string>();
    console.Line(Printable(id));
    ids.insert(id);
  }
  return wait ? WaitForBatch(client, console, ids) : kExitSuccess;
}

}  // namespace vn::cli

#include "apps/varnel/batch_add.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "apps/protocol/json_text.h"
#include "apps/varnel/byte_units.h"
#include "apps/varnel/cli_errors.h"
#include "apps/varnel/download_waiter.h"
#include "apps/varnel/task_view.h"
#include "platform/pipe.h"
#include "platform/process.h"

namespace vn::cli {
namespace {

constexpr const char* kBlanks = " \t\r";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// Checks the options on their own, so a bad option is reported once and not
// for every line.
constexpr const char* kSampleUrl = "https://example.invalid/";

struct CheckedList {
  std::vector<std::pair<std::string, nlohmann::json>> requests;  // URL, enqueue request
  std::vector<std::string> problems;                             // "LINE: reason"
};

// Why the line cannot be enqueued, or its request.
nlohmann::json RequestOf(const ListLine& line, AddOptions& one, const std::filesystem::path& here,
                         std::string& problem) {
  const std::string& text = line.text;
  if (text.size() > kMaxListLineBytes) {
    problem = "longer than " + std::to_string(kMaxListLineBytes) + " bytes";
  } else if (text.find('\0') != std::string::npos) {
    problem = "holds a zero byte";
  } else if (!IsValidUtf8(text)) {
    problem = "is not UTF-8 text";
  } else if (std::any_of(text.begin(), text.end(),
                         [](unsigned char c) { return c < 0x20 || c == 0x7f; })) {
    problem = "holds a control character";
  } else {
    one.url = text;
    try {
      auto request = EnqueueDownloadRequest(one, here);
      const auto size = CompactJson(request).size();
      if (size <= platform::kMaxRequestBytes) return request;
      problem = "its request would be " + std::to_string(size) +
                " bytes; the service takes at most " + std::to_string(platform::kMaxRequestBytes);
    } catch (const UsageError& error) {
      problem = error.what();
    }
  }
  return nullptr;
}

CheckedList CheckLines(const std::vector<ListLine>& lines, const AddOptions& options,
                       const std::filesystem::path& here) {
  AddOptions one = options;
  one.url = kSampleUrl;
  EnqueueDownloadRequest(one, here);
  CheckedList checked;
  for (const ListLine& line : lines) {
    std::string problem;
    auto request = RequestOf(line, one, here, problem);
    if (problem.empty()) {
      checked.requests.emplace_back(line.text, std::move(request));
    } else {
      checked.problems.push_back(std::to_string(line.number) + ": " + problem);
    }
  }
  return checked;
}

struct BatchProgress {
  std::size_t ended = 0;
  std::size_t completed = 0;
  std::int64_t bytesDone = 0;
  std::int64_t rate = 0;
};

bool HasEnded(const std::string& status) {
  return status == "Completed" || status == "Failed" || status == "Cancelled" || status == "Paused";
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
        client.Call(ListDownloadsRequest(), "the service refused to list its downloads"));
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

std::vector<ListLine> ReadUrlList(std::istream& input) {
  std::vector<ListLine> lines;
  std::string line;
  std::size_t number = 0;
  const auto take = [&] {
    ++number;
    if (number == 1 && line.starts_with(kByteOrderMark)) line.erase(0, kByteOrderMark.size());
    const auto first = line.find_first_not_of(kBlanks);
    if (line.size() > kMaxListLineBytes) {
      lines.push_back({number, line});  // refused whole, blanks or not
    } else if (first != std::string::npos && line[first] != '#') {
      lines.push_back({number, line.substr(first, line.find_last_not_of(kBlanks) - first + 1)});
    }
    line.clear();
  };
  for (std::istreambuf_iterator<char> next(input), end; next != end; ++next) {
    if (*next == '\n') {
      take();
    } else if (line.size() <= kMaxListLineBytes + kByteOrderMark.size()) {
      line.push_back(*next);
    }
  }
  if (!line.empty()) take();
  return lines;
}

int RunAddBatch(const ServiceClient& client, Console& console, const AddOptions& options,
                const std::string& source, bool wait) {
  if (wait) platform::InstallStopSignalHandlers();
  std::vector<ListLine> lines;
  if (source == "-") {
    lines = ReadUrlList(std::cin);
  } else {
    std::ifstream file(source, std::ios::binary);
    if (!file) throw UsageError("cannot read the URL list " + Printable(source));
    lines = ReadUrlList(file);
  }
  if (lines.empty()) throw UsageError("the URL list " + Printable(source) + " holds no URL");

  std::error_code error;
  const auto here = std::filesystem::current_path(error);
  if (error) throw UsageError("the current folder cannot be read; give absolute paths");
  const auto checked = CheckLines(lines, options, here);
  const std::string where = source == "-" ? "standard input" : Printable(source);
  for (const auto& problem : checked.problems) console.Error(where + ":" + Printable(problem));

  std::unordered_set<std::string> ids;
  for (const auto& [url, request] : checked.requests) {
    const auto answer = client.Call(request, "the service refused " + Printable(url));
    if (!answer.contains("id") || !answer["id"].is_string()) {
      throw ServiceUnavailable("the download service answered without an id");
    }
    const std::string id = answer["id"].get<std::string>();
    console.Line(Printable(id));
    ids.insert(id);
  }
  const int waited = wait && !ids.empty() ? WaitForBatch(client, console, ids) : kExitSuccess;
  return waited == kExitSuccess && !checked.problems.empty() ? kExitDownloadFailed : waited;
}

}  // namespace vn::cli

#include "apps/varnel/download_waiter.h"

#include <algorithm>
#include <optional>
#include <thread>

#include "apps/protocol/command_names.h"
#include "apps/protocol/status_texts.h"
#include "apps/varnel/cli_errors.h"
#include "apps/varnel/closing_line.h"
#include "apps/varnel/progress_line.h"
#include "apps/varnel/requests.h"
#include "apps/varnel/task_view.h"
#include "platform/process.h"

namespace vn::cli {
namespace {

constexpr std::chrono::milliseconds kSleepStep{50};
// The end of a download is noticed within a tenth of a second; with a long
// list the polls slow down (never below four times the answer's time) so the
// client never keeps the service busy.
constexpr std::chrono::milliseconds kEndCheckInterval{100};

std::string EndText(const TaskView& task) {
  const std::string id = Printable(task.id);
  if (task.status == status_text::kFailed) {
    const std::string reason = task.failureReason.empty() ? "no reason given" : task.failureReason;
    return "download " + id + " failed: " + Printable(reason);
  }
  if (task.status == status_text::kCancelled) return "download " + id + " was cancelled";
  return "download " + id + " was paused (resume it with `varnel resume " + id + "`)";
}

// The end of a wait that the service's going away cut short: the download
// itself may go on, or be found again, once a service runs again.
ServiceUnavailable WaitInterrupted(const std::string& id, const ServiceUnavailable& cause) {
  return ServiceUnavailable("waiting for download " + Printable(id) + " was interrupted: " +
                            cause.what() + "; after a restart of the service, look it up with " +
                            "`varnel list`");
}

// What a stop signal ends the waiting with; SIGTERM is named, since it did not
// come from the user's Ctrl-C.
int StoppedWaiting(Console& console, const std::string& id) {
  const bool terminated = platform::ReceivedStopSignal() == platform::StopSignal::kTerminate;
  console.Error(std::string(terminated ? "stopped waiting on SIGTERM" : "stopped waiting") +
                "; download " + Printable(id) + " goes on in the service (see `varnel list`)");
  return terminated ? kExitTerminated : kExitInterrupted;
}

// The closing line of an HTTP download. The digest is asked for separately (the
// list does not carry it); a service that cannot answer costs only that part.
std::string ClosingLine(const ServiceClient& client, const TaskView& task,
                        std::chrono::steady_clock::time_point started, std::int64_t bytesAtStart) {
  DownloadEnd end;
  end.task = task;
  end.waited = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started);
  end.bytesAtStart = bytesAtStart;
  if (task.status == status_text::kCompleted) {
    try {
      const auto answer = client.Call(ChecksumRequest(task.id), "no checksum");
      end.expectedChecksum = answer.value(member::kExpectedChecksum, std::string());
      end.actualChecksum = answer.value(member::kActualChecksum, std::string());
    } catch (const std::exception&) {
      end.expectedChecksum.clear();
      end.actualChecksum.clear();
    }
  }
  return RenderClosingLine(end);
}

std::chrono::milliseconds NextPoll(std::chrono::steady_clock::duration answerTime) {
  const auto scaled = std::chrono::duration_cast<std::chrono::milliseconds>(4 * answerTime);
  return std::clamp(scaled, kEndCheckInterval, kPollInterval);
}

}  // namespace

bool SleepUnlessStopped(std::chrono::milliseconds duration) {
  const auto until = std::chrono::steady_clock::now() + duration;
  while (!platform::StopSignalReceived()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) return true;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(until - now, kSleepStep));
  }
  return false;
}

int WaitForDownload(const ServiceClient& client, Console& console, const std::string& id) {
  const std::string refused = "the service refused to list its downloads";
  std::string lastStatus;
  std::optional<std::chrono::steady_clock::time_point> lastPlainLine;
  std::optional<std::chrono::steady_clock::time_point> lastRedraw;
  const auto started = std::chrono::steady_clock::now();
  std::optional<std::int64_t> bytesAtStart;
  while (!platform::StopSignalReceived()) {
    const auto asked = std::chrono::steady_clock::now();
    nlohmann::json answer;
    try {
      answer = client.Call(ListDownloadsRequest(), refused);
    } catch (const ServiceUnavailable& cause) {
      throw WaitInterrupted(id, cause);
    }
    const auto answerTime = std::chrono::steady_clock::now() - asked;
    const auto task = FindTask(ReadTaskList(answer), id);
    if (!task) {
      throw DownloadFailed("download " + Printable(id) +
                           " is no longer listed by the service (was it deleted?)");
    }

    if (!bytesAtStart) bytesAtStart = task->downloadedBytes;
    const auto now = std::chrono::steady_clock::now();
    const bool changed = task->status != lastStatus;
    if (console.IsTerminal()) {
      // Redrawn twice a second, and at once when the status changes.
      if (changed || HasEnded(*task) || !lastRedraw || now - *lastRedraw >= kPollInterval) {
        lastRedraw = now;
        // The last column stays free: writing it makes some terminals wrap.
        const std::size_t width = console.Width().value_or(80);
        console.Redraw(RenderProgressBar(*task, width > 1 ? width - 1 : width));
      }
    } else if (changed || !lastPlainLine || now - *lastPlainLine >= kPlainProgressInterval) {
      console.Line(RenderProgressText(*task));
      lastPlainLine = now;
    }
    lastStatus = task->status;

    if (HasEnded(*task)) {
      console.EndRedraw();
      if (!task->isTorrent) console.Line(ClosingLine(client, *task, started, *bytesAtStart));
      if (task->status == status_text::kCompleted) return kExitSuccess;
      throw DownloadFailed(EndText(*task));
    }
    if (!SleepUnlessStopped(NextPoll(answerTime))) break;
  }
  return StoppedWaiting(console, id);
}

}  // namespace vn::cli

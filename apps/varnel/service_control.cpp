#include "apps/varnel/service_control.h"

#include <thread>

#include "apps/protocol/json_text.h"
#include "apps/protocol/socket_names.h"
#include "apps/varnel/cli_errors.h"
#include "apps/varnel/program_locations.h"
#include "apps/varnel/requests.h"
#include "apps/varnel/service_listener.h"
#include "apps/varnel/task_view.h"
#include "platform/background_process.h"
#include "platform/locations.h"
#include "platform/pipe.h"

namespace vn::cli {
namespace {

constexpr std::chrono::milliseconds kPollInterval{50};
constexpr std::chrono::milliseconds kProbeTimeout{1000};
constexpr std::chrono::seconds kSystemctlTimeout{60};

// systemctl, when a user manager runs and has our unit enabled.
std::filesystem::path EnabledUserUnitManager() {
  const auto systemctl = platform::FindOnPath("systemctl");
  if (systemctl.empty()) return {};
  const auto enabled = platform::RunProgram(
      systemctl, {"--user", "--quiet", "is-enabled", kUserUnitName}, std::chrono::seconds(5));
  return enabled == 0 ? systemctl : std::filesystem::path();
}

bool Answers() {
  return !platform::SendPipeRequest(kServiceSocketName, CompactJson(ListDownloadsRequest()), 1,
                                    kProbeTimeout)
              .value_or("")
              .empty();
}

std::string SeeLog() { return "; see " + ServiceLogPath().string(); }

// Waits until the socket answers; false when startedPid (if any) ended first
// or the time ran out.
bool WaitUntilAnswering(std::optional<int> startedPid) {
  const auto deadline = std::chrono::steady_clock::now() + kServiceStartWait;
  while (std::chrono::steady_clock::now() < deadline) {
    if (Answers()) return true;
    if (startedPid && !platform::ProcessRunning(*startedPid)) return Answers();
    std::this_thread::sleep_for(kPollInterval);
  }
  return false;
}

void StartThroughUserUnit(const std::filesystem::path& systemctl) {
  if (platform::RunProgram(systemctl, {"--user", "start", kUserUnitName}, kSystemctlTimeout) != 0) {
    throw ServiceUnavailable("`systemctl --user start " + std::string(kUserUnitName) +
                             "` failed; see `journalctl --user -u " + kUserUnitName + "`");
  }
  if (!WaitUntilAnswering(std::nullopt)) {
    throw ServiceUnavailable("the download service started by systemd does not answer");
  }
}

void StartProgram() {
  const auto program = FindServiceBinary();
  if (program.empty()) {
    std::string searched;
    for (const auto& candidate : ServiceBinaryCandidates()) {
      searched += (searched.empty() ? "" : ", ") + candidate.string();
    }
    throw ServiceUnavailable("the download service is not running and its program was not found (" +
                             searched + ")");
  }
  const auto log = ServiceLogPath();
  std::error_code ignored;
  std::filesystem::create_directories(log.parent_path(), ignored);
  const auto pid = platform::StartInBackground(program, {}, log);
  if (!pid) throw ServiceUnavailable("the download service could not be started" + SeeLog());
  if (!WaitUntilAnswering(pid)) {
    throw ServiceUnavailable("the download service did not start" + SeeLog());
  }
}

bool WaitUntilEnded(int pid) {
  const auto deadline = std::chrono::steady_clock::now() + kServiceStopWait;
  while (platform::ProcessRunning(pid)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

std::string SocketText() {
  try {
    return platform::PipePath(kServiceSocketName).string();
  } catch (const std::exception& error) {
    return error.what();
  }
}

// For a listener that is not the service.
std::string Impostor(const SocketListener& listener) {
  return "something other than the download service listens on " + SocketText() + ": " +
         listener.Description() + "; " + listener.notTheService;
}

}  // namespace

void StartService() {
  if (const auto systemctl = EnabledUserUnitManager(); !systemctl.empty()) {
    StartThroughUserUnit(systemctl);
  } else {
    StartProgram();
  }
}

void StartServiceOnDemand(Console& console) {
  StartService();
  console.Error("started the download service (log: " + ServiceLogPath().string() +
                "; stop it with `varnel service stop`)");
}

int RunServiceStart(Console& console) {
  if (const auto listener = FindSocketListener(); listener.IsService()) {
    console.Line("The download service is already running (" + listener.Description() + ").");
    return kExitSuccess;
  } else if (listener.pid) {
    throw ServiceUnavailable(Impostor(listener) + "; the service cannot start beside it");
  }
  StartService();
  const auto pid = platform::PipeServerPid(kServiceSocketName, kProbeTimeout);
  console.Line("Started the download service (pid " + (pid ? std::to_string(*pid) : "?") +
               "; log: " + ServiceLogPath().string() + ").");
  return kExitSuccess;
}

int RunServiceStop(Console& console) {
  const auto listener = FindSocketListener();
  if (!listener.pid) {
    console.Line("The download service is not running.");
    return kExitSuccess;
  }
  // A process is signalled only once it is known to be the service.
  if (!listener.IsService()) throw ServiceUnavailable(Impostor(listener) + "; nothing was stopped");
  const int pid = *listener.pid;
  if (const auto systemctl = EnabledUserUnitManager(); !systemctl.empty()) {
    platform::RunProgram(systemctl, {"--user", "stop", kUserUnitName}, kSystemctlTimeout);
  }
  // Also a service started outside the unit while it is enabled.
  if (platform::ProcessRunning(pid) && !platform::AskProcessToStop(pid) &&
      platform::ProcessRunning(pid)) {
    throw ServiceUnavailable("the download service (pid " + std::to_string(pid) +
                             ") cannot be asked to stop");
  }
  if (!WaitUntilEnded(pid)) {
    throw ServiceUnavailable("the download service (pid " + std::to_string(pid) +
                             ") did not stop within " + std::to_string(kServiceStopWait.count()) +
                             " seconds");
  }
  console.Line("Stopped the download service (pid " + std::to_string(pid) + ").");
  return kExitSuccess;
}

int RunServiceStatus(const ServiceClient& client, Console& console) {
  const auto listener = FindSocketListener();
  std::string state = "not running";
  if (listener.IsService()) {
    state = "running (pid " + std::to_string(*listener.pid) + ")";
  } else if (listener.pid) {
    state = "not running; the socket is held by " + listener.Description() +
            ", which is not the download service: " + listener.notTheService;
  }
  console.Line("Service:    " + state);
  console.Line("Socket:     " + SocketText());
  console.Line("Data root:  " + platform::ResolveDataRoot().string());
  console.Line("Log:        " + ServiceLogPath().string());
  if (!listener.IsService()) return kExitServiceUnavailable;
  const auto tasks =
      ReadTaskList(client.Call(ListDownloadsRequest(), "the service refused the list"));
  console.Line("Downloads:  " + std::to_string(tasks.size()));
  return kExitSuccess;
}

}  // namespace vn::cli

#include "apps/varnel/service_listener.h"

#include <algorithm>

#include "apps/protocol/command_names.h"
#include "apps/protocol/socket_names.h"
#include "apps/varnel/program_locations.h"
#include "apps/varnel/requests.h"
#include "apps/varnel/service_client.h"
#include "apps/varnel/task_view.h"
#include "platform/background_process.h"
#include "platform/pipe.h"

namespace vn::cli {
namespace {

// Far above any list the probe meets, far below what garbage could fill.
constexpr std::size_t kMaxProbeAnswerBytes = std::size_t{64} << 20;

std::string ProgramProblem(const std::filesystem::path& program) {
  if (program.empty()) return "its program cannot be read";
  const auto expected = ServicePrograms();
  if (std::find(expected.begin(), expected.end(), program) != expected.end()) return "";
  std::string known;
  for (const auto& path : expected) known += (known.empty() ? "" : " or ") + path.string();
  return "it runs " + Printable(program.string()) + ", not the service program" +
         (known.empty() ? std::string(" (none found)") : " (" + known + ")");
}

std::string AnswerProblem() {
  try {
    const ServiceClient probe(kServiceSocketName, kIdentifyTimeout, kMaxProbeAnswerBytes);
    const auto answer = probe.Call(ListDownloadsRequest(), "it refused the list");
    const auto downloads = answer.find(member::kDownloads);
    if (downloads == answer.end() || !downloads->is_array()) {
      return "its answer to " + std::string(command::kListDownloads) + " holds no list";
    }
    return "";
  } catch (const std::exception& error) {
    return "asked for " + std::string(command::kListDownloads) + ": " + error.what();
  }
}

}  // namespace

std::string SocketListener::Description() const {
  if (!pid) return "nothing";
  return "pid " + std::to_string(*pid) + " (" +
         (program.empty() ? std::string("program unknown") : Printable(program.string())) + ")";
}

SocketListener FindSocketListener() {
  SocketListener listener;
  listener.pid = platform::PipeServerPid(kServiceSocketName, kIdentifyTimeout);
  if (!listener.pid) return listener;
  listener.program = platform::ProgramOfProcess(*listener.pid);
  // Both are asked, so a message names everything that is wrong.
  std::string problems = ProgramProblem(listener.program);
  if (const auto answer = AnswerProblem(); !answer.empty()) {
    problems += (problems.empty() ? "" : "; ") + answer;
  }
  listener.notTheService = problems;
  return listener;
}

}  // namespace vn::cli

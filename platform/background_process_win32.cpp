// Windows programs started and looked at by a client: CreateProcessW with a
// console of no one's, process handles and a Toolhelp snapshot. There are no
// signals: a running service is asked to stop through its stop event.
#include <windows.h>
#include <aclapi.h>
#include <tlhelp32.h>

#include "platform/background_process.h"
#include "platform/command_line_win32.h"
#include "platform/stop_event_win32.h"
#include "platform/text_wide.h"
#include "platform/win32_handle.h"

namespace vn::platform {
namespace {

std::wstring CommandLineOf(const std::filesystem::path& program,
                           const std::vector<std::string>& arguments) {
  std::vector<std::string> all{program.u8string().empty() ? std::string()
                                                          : WideToUtf8(program.wstring())};
  all.insert(all.end(), arguments.begin(), arguments.end());
  return Utf8ToWide(JoinCommandLine(all));
}

Win32Handle Start(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                  HANDLE output, DWORD flags) {
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = nullptr;
  startup.StartupInfo.hStdOutput = output;
  startup.StartupInfo.hStdError = output;
  // The child inherits the output handle and nothing else: a service that
  // inherited the caller's own standard output would keep a pipe reading it
  // open for as long as it runs.
  std::vector<BYTE> attributes;
  HANDLE inherited[] = {output};
  if (output != nullptr) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    attributes.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) return {};
    if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                   sizeof inherited, nullptr, nullptr)) {
      DeleteProcThreadAttributeList(list);
      return {};
    }
    startup.lpAttributeList = list;
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  }
  PROCESS_INFORMATION started{};
  std::wstring line = CommandLineOf(program, arguments);
  const BOOL created =
      CreateProcessW(program.wstring().c_str(), line.data(), nullptr, nullptr, output != nullptr,
                     flags, nullptr, nullptr, &startup.StartupInfo, &started);
  if (startup.lpAttributeList != nullptr) DeleteProcThreadAttributeList(startup.lpAttributeList);
  if (!created) return {};
  CloseHandle(started.hThread);
  return Win32Handle(started.hProcess);
}

}  // namespace

std::optional<int> StartInBackground(const std::filesystem::path& program,
                                     const std::vector<std::string>& arguments,
                                     const std::filesystem::path& logFile) {
  SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const Win32Handle log(CreateFileW(logFile.wstring().c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!log.Valid()) return std::nullopt;
  const Win32Handle process = Start(program, arguments, log.Get(),
                                    DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP);
  if (!process.Valid()) return std::nullopt;
  return static_cast<int>(GetProcessId(process.Get()));
}

bool ProcessRunning(int pid) {
  const Win32Handle process(
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
  DWORD code = 0;
  return process.Valid() && GetExitCodeProcess(process.Get(), &code) && code == STILL_ACTIVE;
}

// A detached process has no console to send Ctrl+C to: the service waits on
// the user's stop event instead (AcceptStopRequests). One service per user
// holds it, so the pid only says which one the caller means.
bool AskProcessToStop(int) {
  const std::wstring name = ServiceStopEventName();
  if (name.empty()) return false;
  const Win32Handle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str()));
  return event.Valid() && SetEvent(event.Get());
}

std::optional<int> RunProgram(const std::filesystem::path& program,
                              const std::vector<std::string>& arguments,
                              std::chrono::milliseconds timeout) {
  const Win32Handle process = Start(program, arguments, nullptr, CREATE_NO_WINDOW);
  if (!process.Valid()) return std::nullopt;
  const auto waitMs = static_cast<DWORD>(std::min<long long>(timeout.count(), INFINITE - 1));
  if (WaitForSingleObject(process.Get(), waitMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.Get(), 1);
    WaitForSingleObject(process.Get(), waitMs);
    return std::nullopt;
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(process.Get(), &code)) return std::nullopt;
  return static_cast<int>(code);
}

std::filesystem::path FindOnPath(const std::string& name) {
  std::wstring found(MAX_PATH, L'\0');
  const DWORD length = SearchPathW(nullptr, Utf8ToWide(name).c_str(), L".exe",
                                   static_cast<DWORD>(found.size()), found.data(), nullptr);
  if (length == 0 || length >= found.size()) return {};
  found.resize(length);
  return std::filesystem::path(found);
}

std::vector<int> ProcessesRunning(const std::filesystem::path& program) {
  std::vector<int> pids;
  const Win32Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.Valid()) return pids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  const DWORD self = GetCurrentProcessId();
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    if (entry.th32ProcessID == self) continue;
    const Win32Handle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    if (!process.Valid()) continue;  // another user's, or gone
    std::wstring image(32768, L'\0');
    DWORD size = static_cast<DWORD>(image.size());
    if (!QueryFullProcessImageNameW(process.Get(), 0, image.data(), &size)) continue;
    image.resize(size);
    if (CompareStringOrdinal(image.c_str(), -1, program.wstring().c_str(), -1, TRUE) ==
        CSTR_EQUAL) {
      pids.push_back(static_cast<int>(entry.th32ProcessID));
    }
  }
  return pids;
}

std::filesystem::path ProgramOfProcess(int pid) {
  const Win32Handle process(
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
  if (!process.Valid()) return {};
  std::wstring image(32768, L'\0');
  DWORD size = static_cast<DWORD>(image.size());
  if (!QueryFullProcessImageNameW(process.Get(), 0, image.data(), &size)) return {};
  image.resize(size);
  return std::filesystem::path(image);
}

// Another process's environment lives in its memory; it is not read.
std::optional<std::string> EnvironmentOf(int, const std::string&) { return std::nullopt; }

namespace {

// The user SID of a token, as bytes; empty when it cannot be read.
std::vector<BYTE> TokenUserOf(HANDLE process) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return {};
  const Win32Handle ownedToken(token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) return {};
  return user;
}

PSID SidOf(std::vector<BYTE>& tokenUser) {
  return reinterpret_cast<TOKEN_USER*>(tokenUser.data())->User.Sid;
}

}  // namespace

bool OwnedByCurrentUser(const std::filesystem::path& path) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.wstring().c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                            &owner, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  auto user = TokenUserOf(GetCurrentProcess());
  const bool mine = !user.empty() && EqualSid(SidOf(user), owner) != 0;
  LocalFree(descriptor);
  return mine;
}

std::optional<bool> ProcessOwnedByCurrentUser(int pid) {
  const Win32Handle process(
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
  if (!process.Valid()) return std::nullopt;
  auto theirs = TokenUserOf(process.Get());
  auto ours = TokenUserOf(GetCurrentProcess());
  if (theirs.empty() || ours.empty()) return std::nullopt;
  return EqualSid(SidOf(theirs), SidOf(ours)) != 0;
}

}  // namespace vn::platform

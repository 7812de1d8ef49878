// Win32 backend of the process services: environment, module path, ShellExecute
// and console control events in place of signals.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "platform/command_line_win32.h"
#include "platform/process.h"
#include "platform/stop_event_win32.h"
#include "platform/text_wide.h"

namespace vn::platform {
namespace {

std::atomic<int> stopSignal{0};

constexpr int kInterrupt = 1;
constexpr int kTerminate = 2;

BOOL WINAPI OnConsoleControl(DWORD event) {
  // Ctrl+C and Ctrl+Break ask the way SIGINT does; closing the console, logging
  // off and shutting down the way SIGTERM does. The process then leaves its wait
  // loop by itself.
  stopSignal = (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) ? kInterrupt : kTerminate;
  return TRUE;
}

}  // namespace

std::optional<std::string> GetEnvironment(const std::string& name) {
  const std::wstring wideName = Utf8ToWide(name);
  if (wideName.empty()) return std::nullopt;
  std::wstring value(256, L'\0');
  while (true) {
    SetLastError(ERROR_SUCCESS);
    const DWORD length =
        GetEnvironmentVariableW(wideName.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    if (length < value.size()) {
      value.resize(length);
      return WideToUtf8(value);
    }
    value.assign(length, L'\0');  // length counts the terminating zero here
  }
}

std::filesystem::path ProgramPath() {
  std::wstring buffer(MAX_PATH, L'\0');
  while (buffer.size() <= 32768) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return std::filesystem::path(buffer);
    }
    buffer.resize(buffer.size() * 2);
  }
  return {};
}

bool StartDetached(const std::filesystem::path& program,
                   const std::vector<std::string>& arguments) {
  // "open" starts the program with a console and standard streams of its own,
  // never the browser's message channel. Results above 32 mean started.
  const std::wstring parameters = Utf8ToWide(JoinCommandLine(arguments));
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", program.wstring().c_str(),
                    parameters.empty() ? nullptr : parameters.c_str(), nullptr, SW_SHOWNORMAL));
  return result > 32;
}

void KeepAllocatorPoolsSmall() {}

void ScheduleAsBulkWork() noexcept {}

void InitializeProcess() {
  // No "program has stopped working" dialog waits for a click on a headless run.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
}

void UseBinaryStandardStreams() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
}

void InstallStopSignalHandlers() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

void AcceptStopRequests() {
  const std::wstring name = ServiceStopEventName();
  if (name.empty()) throw std::runtime_error("Cannot name the service's stop event");
  // Manual reset: a request stays visible until the process ends, and the
  // event goes with the last handle, so a later service never sees an old one.
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  if (event == nullptr) throw std::runtime_error("Cannot create the service's stop event");
  std::thread([event] {
    if (WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0) stopSignal = kTerminate;
  }).detach();
}

bool StopSignalReceived() { return stopSignal != 0; }

StopSignal ReceivedStopSignal() {
  switch (stopSignal.load()) {
    case 0:
      return StopSignal::kNone;
    case kTerminate:
      return StopSignal::kTerminate;
    default:
      return StopSignal::kInterrupt;
  }
}

void ExitProcessNow(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(code);
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(WideToUtf8(wide[i]));
  LocalFree(wide);
  return arguments;
}

}  // namespace vn::platform

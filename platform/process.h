#pragma once

// Process-level services: environment, the running program's own path, and
// starting other programs.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vn::platform {

// The variable's value, or nullopt when it is not set.
std::optional<std::string> GetEnvironment(const std::string& name);

// Full path of the running program (/proc/self/exe, the module's file name on
// Windows); empty when unknown.
std::filesystem::path ProgramPath();

// Starts program with the given arguments (argv[1..]); does not wait for it and
// leaves no zombie behind. True when the program was started (exec succeeded).
// On Windows ShellExecuteW "open", with standard streams of the program's own.
bool StartDetached(const std::filesystem::path& program, const std::vector<std::string>& arguments);

// Process-wide set-up every program does first in main: SIGPIPE ignored, so a
// peer that goes away never kills the program (Windows has no SIGPIPE; there
// it turns off the error dialogs that would wait for a click on a crash). A program that makes HTTP
// requests also calls InitializeHttp (http.h).
void InitializeProcess();

// For a long-lived program whose many short threads allocate: few allocator
// pools, and large blocks taken from and handed back to the system directly,
// so resident memory follows what the program holds instead of what its
// threads once held. Call first in main; nothing to do on Windows.
void KeepAllocatorPoolsSmall();

// Marks the calling thread, and the threads it starts from then on, as bulk
// work: nice 10 above its own, so that a thread that wakes to answer a client
// gets a core at once even while transfers keep every core busy. A service
// runs in a session of its own, and the scheduler shares the processor
// between sessions first, so this ranks the program's own threads; where it
// does not (no session groups), transfers also yield to other programs'
// work. For threads that move bytes; best effort: on Windows, whose scheduler
// boosts a thread that I/O wakes and whose threads do not inherit priorities,
// nothing changes.
void ScheduleAsBulkWork() noexcept;

// Standard input and output carry bytes unchanged (no CR/LF translation on
// Windows; nothing to do elsewhere). For programs that speak a binary protocol
// on them; call before the first read or write.
void UseBinaryStandardStreams();

// The whole argument vector (argv[0] included) as UTF-8. On Windows argv holds
// the arguments in the ANSI code page, which cannot name every file: they are
// read again from the wide command line. Elsewhere argv as it is. Call from
// main's thread.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Appended to a program's base name to make its file name ("" or ".exe").
// On Windows the programs are shipped together in one folder and find each
// other beside themselves; elsewhere they follow the libexec layout.
#ifdef _WIN32
inline constexpr const char* kProgramFileSuffix = ".exe";
inline constexpr bool kProgramsShareOneFolder = true;
#else
inline constexpr const char* kProgramFileSuffix = "";
inline constexpr bool kProgramsShareOneFolder = false;
#endif

// Makes SIGTERM and SIGINT set a flag instead of killing the process, so a
// service can leave its wait loop and shut down in order. On Windows the
// console's Ctrl+C and Ctrl+Break count as SIGINT, close, log-off and shutdown
// as SIGTERM.
void InstallStopSignalHandlers();

// For the download service: on Windows a client's request to stop (the user's named stop event, set by
// AskProcessToStop) then counts as SIGTERM. Nothing to do elsewhere, where
// SIGTERM itself is the request.
void AcceptStopRequests();

// True once SIGTERM or SIGINT has arrived after InstallStopSignalHandlers.
bool StopSignalReceived();

// Which of the two arrived last, so a program can say what stopped it.
enum class StopSignal { kNone, kInterrupt /* SIGINT */, kTerminate /* SIGTERM */ };
StopSignal ReceivedStopSignal();

// Ends the process at once with code, after flushing standard output and error,
// without running static destructors: detached threads may still be running.
[[noreturn]] void ExitProcessNow(int code);

}  // namespace vn::platform

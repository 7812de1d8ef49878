#pragma once

// Programs that a client starts, stops and looks at: the download service run
// in the background, short helper programs (systemctl) run to their end, and
// the processes that hold a file open. Keeps no state; any thread may call.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vn::platform {

// Starts program in a session of its own with standard input from /dev/null
// and standard output and error appended to logFile (created with mode 0600).
// Does not wait for it; it is never left as our zombie. Returns its pid, or
// nullopt when the log cannot be opened or exec failed. On Windows a detached
// process in a process group of its own, with no console.
std::optional<int> StartInBackground(const std::filesystem::path& program,
                                     const std::vector<std::string>& arguments,
                                     const std::filesystem::path& logFile);

// True while a process with this pid lives (a zombie does not count).
bool ProcessRunning(int pid);

// Sends SIGTERM; false when it could not be sent. On Windows, where a detached
// process has no console for Ctrl+C, sets the user's service stop event (see
// AcceptStopRequests); false when no service holds it.
bool AskProcessToStop(int pid);

// Runs program to its end with its output discarded, at most timeout (then it
// is killed). The exit code, or nullopt when it did not start, was killed or
// ran out of time.
std::optional<int> RunProgram(const std::filesystem::path& program,
                              const std::vector<std::string>& arguments,
                              std::chrono::milliseconds timeout);

// The first executable file called name in a folder of $PATH; empty when none.
// On Windows SearchPathW's order (the program's folder first) and ".exe" added.
std::filesystem::path FindOnPath(const std::string& name);

// Pids of this user's processes, other than this one, running program.
std::vector<int> ProcessesRunning(const std::filesystem::path& program);

// The program file process pid runs (/proc/<pid>/exe; on Windows its image
// name), absolute; empty when it cannot be read (another user's process, or
// gone). A program file replaced or removed since it started is still named by
// its path.
std::filesystem::path ProgramOfProcess(int pid);

// The value of variable in the environment that process pid started with;
// nullopt when it is not set there or cannot be read (always on Windows, where
// it lives in the other process's memory).
std::optional<std::string> EnvironmentOf(int pid, const std::string& variable);

// True when path itself (not what a symbolic link points to) belongs to the
// current user. On Windows: the owner in its security descriptor is the user
// of this process's token.
bool OwnedByCurrentUser(const std::filesystem::path& path);

// Whether process pid runs as the current user (on Windows: the user of its
// token is the user of ours); nullopt when that cannot be read (the process
// is gone, or the system does not tell).
std::optional<bool> ProcessOwnedByCurrentUser(int pid);

}  // namespace vn::platform

#pragma once

// Where varnel finds the programs it starts and the files it keeps for them.
//
// Installed, varnel lies in <prefix>/bin and its companions in
// <prefix>/libexec/varnel (service, native-host). In a build tree varnel is
// apps/varnel/varnel with apps/service/service and apps/native-host/native-host
// beside it. On Windows all of them lie in one folder (service.exe beside
// varnel.exe). All are found from varnel's own path, so no PATH entry is needed.
//
// Environment overrides, for tests and unusual layouts: VARNEL_SERVICE_BINARY
// and VARNEL_NATIVE_HOST_BINARY name the program outright; one that is set but
// names no executable file means "not found" (tests use this to keep varnel
// from starting a service). Pure look-ups; any thread.

#include <filesystem>
#include <vector>

namespace vn::cli {

inline constexpr const char* kServiceOverride = "VARNEL_SERVICE_BINARY";
inline constexpr const char* kNativeHostOverride = "VARNEL_NATIVE_HOST_BINARY";

// The service program, absolute; empty when none is found.
std::filesystem::path FindServiceBinary();

// The native-messaging host program, absolute; empty when none is found.
std::filesystem::path FindNativeHostBinary();

// Where a look-up for program would search, in order (for messages).
std::vector<std::filesystem::path> ServiceBinaryCandidates();

// The program files a running service may rightly run, each with symbolic
// links resolved: the one varnel would start (FindServiceBinary) and the
// installed one beside varnel. Those that do not exist are left out.
std::vector<std::filesystem::path> ServicePrograms();

// $XDG_STATE_HOME/varnel/service.log (absolute XDG_STATE_HOME only), else
// ~/.local/state/varnel/service.log, else service.log in the data root.
std::filesystem::path ServiceLogPath();

}  // namespace vn::cli

#pragma once

// The registry of browsers that have pinged this host: "browser-handshakes.json"
// in the handshake folder, one member per browser name, each
// {"browser", "extensionId", "lastSeenUtcEpoch"}. Several host processes may
// write it at once without locking; the last writer wins, but a reader never
// sees a half-written file.

#include <string>

namespace vn {

inline constexpr const char* kHandshakeFileName = "browser-handshakes.json";

// Sets browser's entry to extensionId and the current time, keeping every other
// member as it was. The folder is platform::ResolveHandshakeFolder(), created when
// missing. Does nothing when browser is empty. A missing, unreadable or
// non-object file starts afresh. Never throws: the registry is a courtesy, and a
// ping is answered whether or not it could be recorded.
void RecordBrowserHandshake(const std::string& browser, const std::string& extensionId);

}  // namespace vn

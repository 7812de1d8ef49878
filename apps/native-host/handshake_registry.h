#pragma once

// The registry of browsers that have pinged this host: "browser-handshakes.json"
// in the handshake folder, one member per browser name, each
// {"browser", "extensionId", "lastSeenUtcEpoch"}. Several host processes may
// record at once: each read-modify-write holds an exclusive lock on
// "browser-handshakes.json.lock" beside it (waiting at most 2 s), so no ping is
// lost, and the file is replaced by a rename, so a reader never sees a
// half-written file.

#include <string>

#include "apps/protocol/browser_host_names.h"

namespace vn {

// Sets browser's entry to extensionId and the current time, keeping every other
// member as it was. The folder is platform::ResolveHandshakeFolder(), created when
// missing. Does nothing when browser is empty. A missing, unreadable or
// non-object file starts afresh. Never throws: the registry is a courtesy, and a
// ping is answered whether or not it could be recorded.
void RecordBrowserHandshake(const std::string& browser, const std::string& extensionId);

}  // namespace vn

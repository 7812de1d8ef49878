#pragma once

// What the native host and varnel's browser commands both name: the host as
// browsers register it, and the file in which the host records the browsers
// that have pinged it (varnel reads it back for `browser status`).

namespace vn {

inline constexpr const char* kNativeHostName = "com.varnel.v2";

inline constexpr const char* kHandshakeFileName = "browser-handshakes.json";

}  // namespace vn

#pragma once

// What becomes of a captured download: refused (no URL, blob URL, image), handed
// to the desktop user interface (its capture pipe, else by starting its program),
// or, when neither takes it, enqueued in the service. Single-threaded, and every
// wait on another program is bounded.

#include <chrono>
#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>

namespace vn {

// Longest answers read from the user interface and from the service.
inline constexpr std::size_t kMaxUiReplyBytes = 255;
inline constexpr std::size_t kMaxServiceReplyBytes = 32767;

// Bounds on each wait for the other side (connect, write, each read).
inline constexpr std::chrono::milliseconds kUiWait{5000};
inline constexpr std::chrono::milliseconds kServiceWait{15000};

inline constexpr const char* kDialogReply = R"({"mode":"dialog","ok":true})";

// The reply text for one capture message. message must be a JSON object; its
// "source" member is read with nlohmann's defaulting accessor, so a non-string
// "source" throws nlohmann::json::type_error before anything is contacted.
// A filename holding a zero byte is not passed on (every route would cut it
// short, naming another file): the name is then derived from the URL. The
// browser's "cookie" and "userAgent" go to the service only (never to the user
// interface), and only when present, free of zero bytes and line breaks. An
// enqueue request longer than the service reads is not sent: the reply is
// "Browser cookies too long" when it would fit without the cookie, "File name
// too long" when it would fit without the cookie and the filename, else
// "Download URL too long".
std::string RouteCapture(const nlohmann::json& message, const std::string& url,
                         const std::string& filename, const std::string& referrer);

// True when url ends in an image extension before a query, a fragment or the end.
bool IsImageUrl(const std::string& url);

// Offers the payload over the user interface's capture pipe; true when its answer
// accepts the capture (IsCaptureAccepted).
bool SendToUiCapture(const std::string& payloadText);

// Starts the user interface program with the capture on its command line; true
// when the program was started. Does not wait for it.
bool LaunchUiProgram(const std::string& url, const std::string& filename,
                     const std::string& referrer);

// The user interface program: "Varnel.UI" beside this program, else in the
// project's Debug or Release build output. Empty when none exists.
std::string FindUiProgram();

// Sends the request to the service and returns its answer as received (its
// first maxReplyBytes), or {"ok":false,"error":"Service unavailable"} (members
// as written) when the service cannot be reached.
std::string SendToService(const std::string& requestText,
                          std::size_t maxReplyBytes = kMaxServiceReplyBytes);

}  // namespace vn

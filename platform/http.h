#pragma once

// Narrow HTTP seam for the download engine (libcurl backend: http_curl.cpp;
// WinHTTP backend: http_winhttp.cpp).
// One HttpSession per download run (shared DNS and TLS-session caches only);
// one HttpConnection per worker thread, which keeps its own keep-alive
// connection from request to request: no connection is ever in a cache that
// two threads use. HTTP/1.1 only, redirects followed (at most 10, and never to
// HTTP once any hop was HTTPS), proxies from the environment, TLS verification
// on, connect bound 30 s, a transfer that gets no byte for 60 s fails.
// WinHTTP takes the system's proxy settings, not the environment's, and reads
// Content-Length as text (Wine refuses the 64-bit number query).
// "Accept-Encoding: identity" is always sent; no automatic decompression.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vn::platform {

// Process-wide set-up of the HTTP library. Call it from main before any thread
// starts: the library's global set-up is not thread-safe. Later calls do
// nothing. Every entry point below also makes sure of it, for programs (tests,
// tools) that make their requests from one thread.
void InitializeHttp();

// The failure text for a URL that cannot be requested.
inline constexpr const char* kInvalidDownloadUrl = "Invalid download URL";

// What one download's requests are built from; immutable once made.
struct RequestTarget {
  std::string url;        // as given
  std::string host;       // without port
  std::string path;       // path + query + fragment as written
  std::string userAgent;  // the task's, else "VarnelV2/0.1"
  std::string referrer;   // sent as Referer when not empty
  // Sent as the Cookie header when not empty, and only to the URL's own
  // origin: the same scheme, host and port. A redirect elsewhere (another
  // host or port, or another scheme, HTTPS to HTTP included) goes on without
  // it. Never written anywhere.
  std::string cookie;
  std::uint16_t port = 0;  // the URL's, else 80 / 443
  bool secure = false;     // https
};

// Throws std::runtime_error("Invalid download URL") for anything but an
// absolute http or https URL.
RequestTarget MakeRequestTarget(const std::string& url, const std::string& userAgent,
                                const std::string& referrer, const std::string& cookie = "");

// Whether a and b have the same scheme, host (compared without regard to
// ASCII case) and port: where a cookie captured for one may be sent to the other.
inline bool SameOrigin(const RequestTarget& a, const RequestTarget& b) {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  return a.secure == b.secure && a.port == b.port &&
         std::equal(a.host.begin(), a.host.end(), b.host.begin(), b.host.end(),
                    [&lower](char x, char y) { return lower(x) == lower(y); });
}

// Head of the final response of a redirect chain.
struct HttpResponseHead {
  long status = 0;
  std::int64_t contentLength = 0;  // 0 when absent or unparsable
  std::string contentRange;        // raw header value, "" when absent
  std::string etag;                // raw, quotes kept, "" when absent or > 255 chars
  std::string lastModified;        // raw, "" when absent or > 255 chars
  std::string retryAfter;          // raw, "" when absent or > 255 chars
  std::string contentDisposition;  // raw, "" when absent or > 2048 chars
};

// Inclusive byte range for a Range header.
struct ByteRange {
  std::int64_t first = 0;
  std::int64_t last = 0;
};

enum class HttpOutcome {
  Completed,      // the body ended cleanly (all of it was delivered)
  Stopped,        // a callback asked to stop: not an error, rest of body abandoned
  RequestFailed,  // no response head arrived (connect, TLS, send, receive, a
                  // redirect refused or one hop too many)
  BodyFailed,     // the head arrived but the body broke off
};

struct HttpResult {
  HttpOutcome outcome = HttpOutcome::RequestFailed;
  int errorCode = 0;   // libcurl result code (WinHTTP: the thread's last error) when failed
  std::string error;   // libcurl's error buffer, else curl_easy_strerror (WinHTTP: empty)
  bool headReceived = false;
};

// A failure as the backend names it, for messages: "curl error 7: text", or
// "WinHTTP error 12029".
std::string DescribeHttpFailure(const HttpResult& result);

// Whether a failed request may well succeed later unchanged: the connection
// was refused, reset or timed out, or the name did not resolve. False for a
// refused certificate, a refused redirect and the like.
bool IsTransientFailure(const HttpResult& result);

// What a session trusts; the defaults are what every download uses.
struct HttpSessionOptions {
  // PEM file of the certificate authorities that HTTPS servers must chain to,
  // in place of the system store. For tests with a CA of their own; empty (the
  // system store) everywhere else.
  std::string caFile;
};

// Shared by the connections of one run, from any thread (the shared caches
// are locked); must outlive them.
class HttpSession {
 public:
  // Throws std::runtime_error("Failed to open HTTP session").
  explicit HttpSession(const HttpSessionOptions& options = {});
  ~HttpSession();
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  struct Shared;
  Shared& shared() { return *sharedState; }

 private:
  std::unique_ptr<Shared> sharedState;
};

// Callbacks of one request, all called on the calling thread.
struct HttpCallbacks {
  // Once, with the final response's head, before any body byte. Return false to
  // abandon the body (outcome Stopped).
  std::function<bool(const HttpResponseHead&)> onHead;
  // Body chunks of up to kHttpChunkBytes, in order. Return false to stop
  // (outcome Stopped); throwing also ends the transfer and propagates.
  std::function<bool(const char* data, std::size_t size)> onChunk;
  // Polled often (also while no data arrives); true ends the transfer at once
  // with outcome Stopped.
  std::function<bool()> shouldStop;
};

inline constexpr std::size_t kHttpChunkBytes = 262144;

// One connection of a worker; not thread-safe, must not outlive its session.
// When it is destroyed, its open connection is handed whole to the next
// HttpConnection made on the session (the probe's goes on with a worker).
class HttpConnection {
 public:
  explicit HttpConnection(HttpSession& session);
  ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  // GET of target, with "Range: bytes=first-last" when range is given, and
  // then "If-Range: ifRange" when ifRange (an ETag or an HTTP date) is not
  // empty: a server whose resource no longer matches it answers 200 with the
  // whole new resource.
  // Exceptions thrown by callbacks propagate after the transfer is cleaned up.
  HttpResult Get(const RequestTarget& target, const std::optional<ByteRange>& range,
                 const HttpCallbacks& callbacks, const std::string& ifRange = "");

 private:
  struct Handle;
  std::unique_ptr<Handle> handle;
};

}  // namespace vn::platform

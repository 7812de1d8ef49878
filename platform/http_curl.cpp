// HTTP seam over libcurl's easy interface. A request is one blocking
// curl_easy_perform; the response head is collected by the header callback
// (restarted at every status line, so only the final response of a redirect
// chain counts) and body chunks are pushed straight from curl's receive buffer
// to the caller. Stopping is done by making a callback refuse: curl then ends
// the transfer with CURLE_WRITE_ERROR or CURLE_ABORTED_BY_CALLBACK, which is
// reported as Stopped because we know we asked for it.
//
// Redirects are followed by curl. Before each hop's request is sent (curl's
// pre-request callback, which sees the hop's own URL), the hop's scheme is
// checked: once any hop of the chain was HTTPS, a plain HTTP hop is refused
// before a byte of the request leaves, whatever hop first went secure.
#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/http.h"

namespace vn::platform {
namespace {

constexpr const char* kDefaultUserAgent = "VarnelV2/0.1";
constexpr long kMaxRedirects = 10;
constexpr const char* kDowngradeRefused = "Redirect from HTTPS to HTTP refused";
constexpr long kConnectTimeoutSeconds = 30;
constexpr long kLowSpeedBytes = 1;
constexpr long kLowSpeedSeconds = 60;
// The largest header value kept; longer values read as absent.
constexpr std::size_t kMaxHeaderValueChars = 255;
// A file name of 255 bytes percent-encoded takes three times that, plus the
// header's other parameters.
constexpr std::size_t kMaxContentDispositionChars = 2048;
// Content-Length values longer than this do not fit and read as 0.
constexpr std::size_t kMaxContentLengthChars = 63;

struct CurlUrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlShareDeleter {
  void operator()(CURLSH* share) const { curl_share_cleanup(share); }
};
struct CurlEasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct CurlSlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct CurlStringDeleter {
  void operator()(char* text) const { curl_free(text); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;
using CurlShare = std::unique_ptr<CURLSH, CurlShareDeleter>;
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistDeleter>;
using CurlString = std::unique_ptr<char, CurlStringDeleter>;

// A URL part, or nullopt when curl has none (no query, no fragment).
std::optional<std::string> UrlPart(CURLU* url, CURLUPart part, unsigned flags = 0) {
  char* raw = nullptr;
  if (curl_url_get(url, part, &raw, flags) != CURLUE_OK) return std::nullopt;
  CurlString owned(raw);
  return std::string(owned.get());
}

// Header values come from the client; CR or LF in them would let it add
// headers of its own, so they are removed.
std::string WithoutLineBreaks(const std::string& text) {
  std::string clean;
  clean.reserve(text.size());
  for (char c : text) {
    if (c != '\r' && c != '\n') clean += c;
  }
  return clean;
}

std::int64_t ParseContentLength(const std::string& value) {
  if (value.size() > kMaxContentLengthChars) return 0;
  errno = 0;
  char* end = nullptr;
  const long long parsed = std::strtoll(value.c_str(), &end, 10);
  if (errno == ERANGE || end == value.c_str()) return 0;
  return parsed;
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    const auto left = static_cast<unsigned char>(a[i]);
    const auto right = static_cast<unsigned char>(b[i]);
    if (std::tolower(left) != std::tolower(right)) return false;
  }
  return i == a.size() && b[i] == '\0';
}

}  // namespace

void InitializeHttp() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

RequestTarget MakeRequestTarget(const std::string& url, const std::string& userAgent,
                                const std::string& referrer, const std::string& cookie) {
  InitializeHttp();
  const std::runtime_error invalid("Invalid download URL");
  CurlUrl parsed(curl_url());
  if (!parsed || url.empty()) throw invalid;
  // Without CURLU_DEFAULT_SCHEME a relative or scheme-less text is refused;
  // PATH_AS_IS keeps "/./" and "/../" as written.
  if (curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(),
                   CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS) != CURLUE_OK) {
    throw invalid;
  }
  const auto scheme = UrlPart(parsed.get(), CURLUPART_SCHEME);
  const auto host = UrlPart(parsed.get(), CURLUPART_HOST);
  const auto port = UrlPart(parsed.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
  if (!scheme || (*scheme != "http" && *scheme != "https") || !host || host->empty() || !port) {
    throw invalid;
  }

  RequestTarget target;
  target.url = url;
  target.host = *host;
  target.secure = *scheme == "https";
  const long portNumber = std::strtol(port->c_str(), nullptr, 10);
  if (portNumber <= 0 || portNumber > 65535) throw invalid;
  target.port = static_cast<std::uint16_t>(portNumber);
  target.path = UrlPart(parsed.get(), CURLUPART_PATH).value_or("/");
  if (const auto query = UrlPart(parsed.get(), CURLUPART_QUERY)) target.path += "?" + *query;
  if (const auto fragment = UrlPart(parsed.get(), CURLUPART_FRAGMENT)) {
    target.path += "#" + *fragment;
  }
  target.userAgent = userAgent.empty() ? kDefaultUserAgent : userAgent;
  target.referrer = referrer;
  target.cookie = cookie;
  return target;
}

// Only the DNS and TLS-session caches are shared between a run's threads. A
// connection stays with the easy handle that opened it: curl does not support
// a connection cache shared across threads. An easy handle whose connection
// ended its work (the probe's) is parked here whole and taken by the next
// connection made, so the first worker goes on over the probe's connection;
// a handle is only ever used by one thread at a time.
struct HttpSession::Shared {
  // Declared first, destroyed last: cleaning up the handles below calls them.
  std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;
  CurlShare share;
  std::string caFile;  // empty: the system store
  std::mutex parkingMutex;
  CurlEasy parked;  // guarded by parkingMutex; destroyed before share

  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<Shared*>(self)->locks[data].lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* self) {
    static_cast<Shared*>(self)->locks[data].unlock();
  }
};

HttpSession::HttpSession(const HttpSessionOptions& options)
    : sharedState(std::make_unique<Shared>()) {
  InitializeHttp();
  Shared& state = *sharedState;
  state.caFile = options.caFile;
  state.share.reset(curl_share_init());
  if (!state.share) throw std::runtime_error("Failed to open HTTP session");
  CURLSH* share = state.share.get();
  const bool ok =
      curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &Shared::Lock) == CURLSHE_OK &&
      curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &Shared::Unlock) == CURLSHE_OK &&
      curl_share_setopt(share, CURLSHOPT_USERDATA, &state) == CURLSHE_OK &&
      curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) == CURLSHE_OK &&
      curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) == CURLSHE_OK;
  if (!ok) throw std::runtime_error("Failed to open HTTP session");
}

HttpSession::~HttpSession() = default;

struct HttpConnection::Handle {
  HttpSession::Shared* session = nullptr;
  CurlEasy easy;
  char errorBuffer[CURL_ERROR_SIZE] = {};

  // State of the request in progress; reset by Get.
  const HttpCallbacks* callbacks = nullptr;
  HttpResponseHead head;
  bool inHead = false;             // between a status line and its blank line
  bool redirectPending = false;    // the head being read names a Location
  bool finalHeadComplete = false;  // a head that curl will not follow has ended
  bool headDelivered = false;
  bool stoppedByCaller = false;
  bool secureHopSeen = false;     // a hop of this request's chain was HTTPS
  bool downgradeRefused = false;  // an HTTP hop came after an HTTPS one
  std::exception_ptr failure;

  bool DeliverHead();
  bool ShouldStop();
  void HeaderLine(const char* data, std::size_t size);

  static std::size_t OnHeader(char* data, std::size_t, std::size_t size, void* self);
  static std::size_t OnWrite(char* data, std::size_t, std::size_t size, void* self);
  static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
  static int OnRequestReady(void* self, char*, char*, int, int);
};

bool HttpConnection::Handle::DeliverHead() {
  headDelivered = true;
  if (callbacks->onHead && !callbacks->onHead(head)) {
    stoppedByCaller = true;
    return false;
  }
  return true;
}

bool HttpConnection::Handle::ShouldStop() {
  if (callbacks->shouldStop && callbacks->shouldStop()) stoppedByCaller = true;
  return stoppedByCaller;
}

void HttpConnection::Handle::HeaderLine(const char* data, std::size_t size) {
  std::string line(data, size);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();

  if (line.compare(0, 5, "HTTP/") == 0) {
    // A new response (redirect, 1xx): forget the previous head.
    head = HttpResponseHead{};
    inHead = true;
    redirectPending = false;
    const auto space = line.find(' ');
    if (space != std::string::npos)
      head.status = std::strtol(line.c_str() + space + 1, nullptr, 10);
    return;
  }
  if (!inHead) return;  // trailers after a chunked body
  if (line.empty()) {
    inHead = false;
    const bool informational = head.status >= 100 && head.status < 200;
    // curl follows a 3xx that names a Location; that response is not ours.
    const bool redirect =
        head.status >= 300 && head.status < 400 && head.status != 304 && redirectPending;
    finalHeadComplete = !informational && !redirect;
    redirectPending = false;
    return;
  }

  const auto colon = line.find(':');
  if (colon == std::string::npos) return;
  const std::string name = line.substr(0, colon);
  const auto valueStart = line.find_first_not_of(" \t", colon + 1);
  std::string value = valueStart == std::string::npos ? "" : line.substr(valueStart);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();

  if (EqualsIgnoringCase(name, "Location")) {
    redirectPending = !value.empty();
  } else if (EqualsIgnoringCase(name, "Content-Length")) {
    head.contentLength = ParseContentLength(value);
  } else if (EqualsIgnoringCase(name, "Content-Disposition")) {
    if (value.size() <= kMaxContentDispositionChars) head.contentDisposition = value;
  } else {
    if (value.size() > kMaxHeaderValueChars) value.clear();
    if (EqualsIgnoringCase(name, "Content-Range")) head.contentRange = value;
    if (EqualsIgnoringCase(name, "ETag")) head.etag = value;
    if (EqualsIgnoringCase(name, "Last-Modified")) head.lastModified = value;
    if (EqualsIgnoringCase(name, "Retry-After")) head.retryAfter = value;
  }
}

// The callbacks below run inside curl's C frames: nothing may be thrown
// through them, so a caller's exception is parked and rethrown by Get.
std::size_t HttpConnection::Handle::OnHeader(char* data, std::size_t, std::size_t size,
                                             void* self) {
  auto& handle = *static_cast<Handle*>(self);
  try {
    handle.HeaderLine(data, size);
    if (handle.finalHeadComplete && !handle.headDelivered) {
      if (handle.ShouldStop() || !handle.DeliverHead()) return 0;
    }
    return size;
  } catch (...) {
    handle.failure = std::current_exception();
    return 0;
  }
}

std::size_t HttpConnection::Handle::OnWrite(char* data, std::size_t, std::size_t size, void* self) {
  auto& handle = *static_cast<Handle*>(self);
  try {
    // A 3xx body curl did not follow, or a head without its blank line.
    if (!handle.headDelivered && !handle.DeliverHead()) return 0;
    for (std::size_t offset = 0; offset < size;) {
      if (handle.ShouldStop()) return 0;
      const std::size_t piece = std::min(size - offset, kHttpChunkBytes);
      if (handle.callbacks->onChunk && !handle.callbacks->onChunk(data + offset, piece)) {
        handle.stoppedByCaller = true;
        return 0;
      }
      offset += piece;
    }
    return size;
  } catch (...) {
    handle.failure = std::current_exception();
    return 0;
  }
}

int HttpConnection::Handle::OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto& handle = *static_cast<Handle*>(self);
  try {
    return handle.ShouldStop() ? 1 : 0;
  } catch (...) {
    handle.failure = std::current_exception();
    return 1;
  }
}

int HttpConnection::Handle::OnRequestReady(void* self, char*, char*, int, int) {
  auto& handle = *static_cast<Handle*>(self);
  char* url = nullptr;
  curl_easy_getinfo(handle.easy.get(), CURLINFO_EFFECTIVE_URL, &url);
  const std::string hopUrl = url != nullptr ? url : "";
  const bool secure = EqualsIgnoringCase(hopUrl.substr(0, 6), "https:");
  if (secure) {
    handle.secureHopSeen = true;
  } else if (handle.secureHopSeen) {
    handle.downgradeRefused = true;
    return CURL_PREREQFUNC_ABORT;
  }
  return CURL_PREREQFUNC_OK;
}

HttpConnection::HttpConnection(HttpSession& session) : handle(std::make_unique<Handle>()) {
  InitializeHttp();
  handle->session = &session.shared();
  {
    std::lock_guard lock(handle->session->parkingMutex);
    handle->easy = std::move(handle->session->parked);
  }
  // A parked handle keeps its connection; every option below is set afresh.
  if (!handle->easy) handle->easy.reset(curl_easy_init());
  if (!handle->easy) throw std::runtime_error("Failed to open HTTP session");
  CURL* easy = handle->easy.get();
  // Options that stay the same for every request of this connection; setopt
  // results are not checked because every option here exists in the libcurl
  // versions we build against.
  curl_easy_setopt(easy, CURLOPT_SHARE, session.shared().share.get());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Handle::OnRequestReady);
  curl_easy_setopt(easy, CURLOPT_PREREQDATA, handle.get());
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytes);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, kLowSpeedSeconds);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  const std::string& caFile = session.shared().caFile;
  if (!caFile.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, caFile.c_str());
  curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, static_cast<long>(kHttpChunkBytes));
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, handle->errorBuffer);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Handle::OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, handle.get());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Handle::OnWrite);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, handle.get());
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Handle::OnProgress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, handle.get());
}

HttpConnection::~HttpConnection() {
  // The buffer dies with this object; the next owner sets its own.
  curl_easy_setopt(handle->easy.get(), CURLOPT_ERRORBUFFER, nullptr);
  std::lock_guard lock(handle->session->parkingMutex);
  if (!handle->session->parked) handle->session->parked = std::move(handle->easy);
}

std::string DescribeHttpFailure(const HttpResult& result) {
  return "curl error " + std::to_string(result.errorCode) + ": " + result.error;
}

bool IsTransientFailure(const HttpResult& result) {
  switch (static_cast<CURLcode>(result.errorCode)) {
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_PARTIAL_FILE:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
      return result.outcome != HttpOutcome::Completed && result.outcome != HttpOutcome::Stopped;
    default:
      return false;
  }
}

HttpResult HttpConnection::Get(const RequestTarget& target, const std::optional<ByteRange>& range,
                               const HttpCallbacks& callbacks, const std::string& ifRange) {
  Handle& state = *handle;
  CURL* easy = state.easy.get();
  state.callbacks = &callbacks;
  state.head = HttpResponseHead{};
  state.inHead = false;
  state.redirectPending = false;
  state.finalHeadComplete = false;
  state.headDelivered = false;
  state.stoppedByCaller = false;
  state.secureHopSeen = false;
  state.downgradeRefused = false;
  state.failure = nullptr;
  state.errorBuffer[0] = '\0';

  CurlSlist headers;
  const auto addHeader = [&headers](const std::string& line) {
    curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
    if (grown == nullptr) throw std::bad_alloc();
    headers.release();
    headers.reset(grown);
  };
  addHeader("Accept-Encoding: identity");
  const std::string referrer = WithoutLineBreaks(target.referrer);
  if (!referrer.empty()) addHeader("Referer: " + referrer);
  // A custom Cookie header, not CURLOPT_COOKIE (which curl sends to every hop
  // of a redirect chain): curl drops custom Cookie and Authorization headers
  // on a hop to another host, port or scheme unless CURLOPT_UNRESTRICTED_AUTH
  // is set, which it never is here.
  const std::string cookie = WithoutLineBreaks(target.cookie);
  if (!cookie.empty()) addHeader("Cookie: " + cookie);
  if (range) {
    addHeader("Range: bytes=" + std::to_string(range->first) + "-" + std::to_string(range->last));
    const std::string validator = WithoutLineBreaks(ifRange);
    if (!validator.empty()) addHeader("If-Range: " + validator);
  }
  const std::string userAgent =
      WithoutLineBreaks(target.userAgent.empty() ? kDefaultUserAgent : target.userAgent);

  curl_easy_setopt(easy, CURLOPT_URL, target.url.c_str());
  curl_easy_setopt(easy, CURLOPT_USERAGENT, userAgent.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.get());
  const CURLcode code = curl_easy_perform(easy);
  // curl keeps the list's pointer; the list dies with this call.
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);
  state.callbacks = nullptr;

  if (state.failure) std::rethrow_exception(state.failure);

  HttpResult result;
  result.headReceived = state.finalHeadComplete || state.headDelivered;
  if (code == CURLE_OK && !state.headDelivered) {
    // Empty body, or a final 3xx curl did not follow; outside curl's frames
    // now, so an exception from onHead may simply propagate.
    state.callbacks = &callbacks;
    const bool wanted = state.DeliverHead();
    result.headReceived = true;
    result.outcome = wanted ? HttpOutcome::Completed : HttpOutcome::Stopped;
    return result;
  }
  if (state.stoppedByCaller) {
    result.outcome = HttpOutcome::Stopped;
    return result;
  }
  if (code == CURLE_OK) {
    result.outcome = HttpOutcome::Completed;
    return result;
  }
  result.outcome = result.headReceived ? HttpOutcome::BodyFailed : HttpOutcome::RequestFailed;
  result.errorCode = static_cast<int>(code);
  result.error = state.errorBuffer[0] != '\0' ? state.errorBuffer : curl_easy_strerror(code);
  if (state.downgradeRefused) {
    result.outcome = HttpOutcome::RequestFailed;
    result.errorCode = static_cast<int>(CURLE_UNSUPPORTED_PROTOCOL);
    result.error = kDowngradeRefused;
  }
  return result;
}

}  // namespace vn::platform

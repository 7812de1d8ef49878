// HTTP seam over WinHTTP, synchronous. A session handle per user agent is
// opened on first use and shared by every connection of the run (WinHTTP keeps
// the keep-alive connections in the session, so a closed request hands its
// connection on by itself). WinHTTP follows redirects: at most 10, and never
// from HTTPS to HTTP, which is its default policy. It sends added request
// headers to every hop, so a request with a cookie watches its redirects
// (status callback) and removes the Cookie header at the first hop to another
// origin; it is not put back later in the chain.
//
// A stop is looked at between reads. A read that waits for data is bounded by
// the 60 s receive time-out, not by shouldStop: synchronous WinHTTP cannot be
// woken from the calling thread.
#include <windows.h>
#include <winhttp.h>

#include <cwchar>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/http.h"
#include "platform/text_wide.h"

namespace vn::platform {
namespace {

constexpr const char* kDefaultUserAgent = "VarnelV2/0.1";
constexpr DWORD kMaxRedirects = 10;
// Session options as numbers, some of which older SDK headers do not name.
constexpr DWORD kOptionMaxConnsPerServerTotal = 172;
constexpr DWORD kMaxConnsPerServerTotal = 16;
constexpr DWORD kMaxConnsPerServer = 64;
constexpr int kResolveTimeoutMs = 30000;
constexpr int kConnectTimeoutMs = 30000;
constexpr int kSendTimeoutMs = 30000;
constexpr int kReceiveTimeoutMs = 60000;
// Header values of this many characters or more read as absent.
constexpr DWORD kHeaderBufferChars = 256;
constexpr DWORD kContentLengthChars = 64;

// Scope-bound owner of a WinHTTP session, connection or request handle.
class WinHttpHandle {
 public:
  WinHttpHandle() = default;
  explicit WinHttpHandle(HINTERNET value) : handle(value) {}
  ~WinHttpHandle() {
    if (handle != nullptr) WinHttpCloseHandle(handle);
  }
  WinHttpHandle(WinHttpHandle&& other) noexcept : handle(other.handle) { other.handle = nullptr; }
  WinHttpHandle& operator=(WinHttpHandle&&) = delete;
  WinHttpHandle(const WinHttpHandle&) = delete;
  WinHttpHandle& operator=(const WinHttpHandle&) = delete;
  HINTERNET Get() const { return handle; }
  explicit operator bool() const { return handle != nullptr; }

 private:
  HINTERNET handle = nullptr;
};

std::wstring WithoutLineBreaks(const std::string& text) {
  std::wstring wide = Utf8ToWide(text);
  std::erase_if(wide, [](wchar_t c) { return c == L'\r' || c == L'\n'; });
  return wide;
}

void SetNumberOption(HINTERNET handle, DWORD option, DWORD value) {
  // Results are not examined: an option a system does not know is no failure.
  WinHttpSetOption(handle, option, &value, sizeof value);
}

DWORD QueryStatusCode(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    return 0;
  }
  return status;
}

// Empty when missing or too long for its buffer.
std::string QueryText(HINTERNET request, DWORD query, const wchar_t* name, DWORD chars) {
  std::vector<wchar_t> buffer(chars, L'\0');
  DWORD size = chars * sizeof(wchar_t);
  if (!WinHttpQueryHeaders(request, query, name, buffer.data(), &size, WINHTTP_NO_HEADER_INDEX)) {
    return {};
  }
  return WideToUtf8(std::wstring_view(buffer.data(), size / sizeof(wchar_t)));
}

// Read as text: the 64-bit number flag is refused by some WinHTTP versions.
std::int64_t QueryContentLength(HINTERNET request) {
  const std::string text = QueryText(request, WINHTTP_QUERY_CONTENT_LENGTH,
                                     WINHTTP_HEADER_NAME_BY_INDEX, kContentLengthChars);
  if (text.empty()) return 0;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str() || errno == ERANGE || value < 0) return 0;
  return value;
}

std::string QueryHeader(HINTERNET request, const wchar_t* name) {
  return QueryText(request, WINHTTP_QUERY_CUSTOM, name, kHeaderBufferChars);
}

// The origin a request's cookie belongs to, and whether it is still sent.
struct CookieGuard {
  const RequestTarget* target = nullptr;
  bool removed = false;
};

// Another scheme, host or port than the target's, or a URL that cannot be read.
bool LeavesOrigin(const RequestTarget& target, const wchar_t* url) {
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  if (url == nullptr || !WinHttpCrackUrl(url, 0, 0, &parts)) return true;
  RequestTarget hop;
  hop.host = WideToUtf8(std::wstring_view(parts.lpszHostName, parts.dwHostNameLength));
  hop.port = parts.nPort;
  hop.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  return !SameOrigin(target, hop);
}

// Called by WinHTTP on the requesting thread before it follows a redirect;
// context is the request's CookieGuard.
void CALLBACK OnRedirect(HINTERNET request, DWORD_PTR context, DWORD status, LPVOID information,
                         DWORD) {
  if (status != WINHTTP_CALLBACK_STATUS_REDIRECT || context == 0) return;
  auto& guard = *reinterpret_cast<CookieGuard*>(context);
  if (guard.removed || !LeavesOrigin(*guard.target, static_cast<const wchar_t*>(information))) {
    return;
  }
  // A header named with no value is removed.
  guard.removed = WinHttpAddRequestHeaders(request, L"Cookie:", static_cast<DWORD>(-1L),
                                           WINHTTP_ADDREQ_FLAG_REPLACE) != FALSE;
}

HttpResult Failed(bool headReceived) {
  HttpResult result;
  result.outcome = headReceived ? HttpOutcome::BodyFailed : HttpOutcome::RequestFailed;
  result.errorCode = static_cast<int>(GetLastError());
  result.headReceived = headReceived;
  return result;
}

}  // namespace

RequestTarget MakeRequestTarget(const std::string& url, const std::string& userAgent,
                                const std::string& referrer, const std::string& cookie) {
  const std::runtime_error invalid(kInvalidDownloadUrl);
  const std::wstring wideUrl = Utf8ToWide(url);
  if (wideUrl.empty() || url.find('\0') != std::string::npos) throw invalid;
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwSchemeLength = static_cast<DWORD>(-1);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(wideUrl.c_str(), 0, 0, &parts)) throw invalid;
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
    throw invalid;
  }
  RequestTarget target;
  target.url = url;
  target.host = WideToUtf8(std::wstring_view(parts.lpszHostName, parts.dwHostNameLength));
  if (target.host.empty()) throw invalid;
  target.path = WideToUtf8(std::wstring_view(parts.lpszUrlPath, parts.dwUrlPathLength)) +
                WideToUtf8(std::wstring_view(parts.lpszExtraInfo, parts.dwExtraInfoLength));
  if (target.path.empty()) target.path.push_back('/');
  target.port = parts.nPort;
  target.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  target.userAgent = userAgent.empty() ? kDefaultUserAgent : userAgent;
  target.referrer = referrer;
  target.cookie = cookie;
  return target;
}

// WinHTTP needs no process-wide set-up.
void InitializeHttp() {}

std::string DescribeHttpFailure(const HttpResult& result) {
  return "WinHTTP error " + std::to_string(result.errorCode);
}

bool IsTransientFailure(const HttpResult& result) {
  if (result.outcome == HttpOutcome::Completed || result.outcome == HttpOutcome::Stopped) {
    return false;
  }
  switch (static_cast<DWORD>(result.errorCode)) {
    case ERROR_WINHTTP_TIMEOUT:
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case ERROR_WINHTTP_CONNECTION_ERROR:
      return true;
    default:
      return false;
  }
}

// WinHTTP session handles are safe to share between threads; the map is locked.
struct HttpSession::Shared {
  std::mutex mutex;
  std::map<std::wstring, WinHttpHandle> sessions;  // by user agent

  // Null (with the last error set) when the session cannot be opened.
  HINTERNET SessionFor(const std::wstring& userAgent) {
    std::lock_guard lock(mutex);
    if (auto found = sessions.find(userAgent); found != sessions.end()) return found->second.Get();
    WinHttpHandle session(WinHttpOpen(userAgent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                      WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return nullptr;
    SetNumberOption(session.Get(), kOptionMaxConnsPerServerTotal, kMaxConnsPerServerTotal);
    SetNumberOption(session.Get(), WINHTTP_OPTION_MAX_CONNS_PER_SERVER, kMaxConnsPerServer);
    SetNumberOption(session.Get(), WINHTTP_OPTION_MAX_CONNS_PER_1_0_SERVER, kMaxConnsPerServer);
    SetNumberOption(session.Get(), WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, kMaxRedirects);
    SetNumberOption(session.Get(), WINHTTP_OPTION_REDIRECT_POLICY,
                    WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP);
    WinHttpSetTimeouts(session.Get(), kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs,
                       kReceiveTimeoutMs);
    HINTERNET raw = session.Get();
    sessions.emplace(userAgent, std::move(session));
    return raw;
  }
};

// The CA file option is for tests with a certificate authority of their own;
// WinHTTP trusts the system store only, where such a test adds its CA.
HttpSession::HttpSession(const HttpSessionOptions&) : sharedState(std::make_unique<Shared>()) {}

HttpSession::~HttpSession() = default;

struct HttpConnection::Handle {
  HttpSession::Shared* shared = nullptr;
};

HttpConnection::HttpConnection(HttpSession& session) : handle(std::make_unique<Handle>()) {
  handle->shared = &session.shared();
}

HttpConnection::~HttpConnection() = default;

HttpResult HttpConnection::Get(const RequestTarget& target, const std::optional<ByteRange>& range,
                               const HttpCallbacks& callbacks, const std::string& ifRange) {
  const std::wstring userAgent =
      WithoutLineBreaks(target.userAgent.empty() ? kDefaultUserAgent : target.userAgent);
  const HINTERNET session = handle->shared->SessionFor(userAgent);
  if (session == nullptr) return Failed(false);
  const WinHttpHandle connection(
      WinHttpConnect(session, Utf8ToWide(target.host).c_str(), target.port, 0));
  if (!connection) return Failed(false);
  const WinHttpHandle request(WinHttpOpenRequest(
      connection.Get(), L"GET", Utf8ToWide(target.path).c_str(), nullptr, WINHTTP_NO_REFERER,
      WINHTTP_DEFAULT_ACCEPT_TYPES, target.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!request) return Failed(false);

  std::wstring headers = L"Accept-Encoding: identity\r\n";
  if (const std::wstring referrer = WithoutLineBreaks(target.referrer); !referrer.empty()) {
    headers += L"Referer: " + referrer + L"\r\n";
  }
  const std::wstring cookie = WithoutLineBreaks(target.cookie);
  if (!cookie.empty()) headers += L"Cookie: " + cookie + L"\r\n";
  if (range) {
    headers += L"Range: bytes=" + std::to_wstring(range->first) + L"-" +
               std::to_wstring(range->last) + L"\r\n";
    if (const std::wstring validator = WithoutLineBreaks(ifRange); !validator.empty()) {
      headers += L"If-Range: " + validator + L"\r\n";
    }
  }
  if (!WinHttpAddRequestHeaders(request.Get(), headers.c_str(), static_cast<DWORD>(-1L),
                                WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE)) {
    return Failed(false);
  }
  if (callbacks.shouldStop && callbacks.shouldStop()) {
    HttpResult stopped;
    stopped.outcome = HttpOutcome::Stopped;
    return stopped;
  }
  CookieGuard guard{&target};
  if (!cookie.empty() &&
      WinHttpSetStatusCallback(request.Get(), &OnRedirect, WINHTTP_CALLBACK_FLAG_REDIRECT, 0) ==
          WINHTTP_INVALID_STATUS_CALLBACK) {
    return Failed(false);
  }
  if (!WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                          0, 0, reinterpret_cast<DWORD_PTR>(&guard)) ||
      !WinHttpReceiveResponse(request.Get(), nullptr)) {
    return Failed(false);
  }

  HttpResponseHead head;
  head.status = static_cast<long>(QueryStatusCode(request.Get()));
  head.contentLength = QueryContentLength(request.Get());
  head.contentRange = QueryHeader(request.Get(), L"Content-Range");
  head.etag = QueryHeader(request.Get(), L"ETag");
  head.lastModified = QueryHeader(request.Get(), L"Last-Modified");
  head.retryAfter = QueryHeader(request.Get(), L"Retry-After");
  head.contentDisposition = QueryHeader(request.Get(), L"Content-Disposition");
  HttpResult result;
  result.headReceived = true;
  result.outcome = HttpOutcome::Stopped;
  if (callbacks.onHead && !callbacks.onHead(head)) return result;

  std::vector<char> buffer;
  while (true) {
    if (callbacks.shouldStop && callbacks.shouldStop()) return result;
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request.Get(), &available)) return Failed(true);
    if (available == 0) break;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(available, kHttpChunkBytes));
    if (buffer.size() < want) buffer.resize(want);
    DWORD got = 0;
    if (!WinHttpReadData(request.Get(), buffer.data(), want, &got)) return Failed(true);
    if (got == 0) break;
    if (callbacks.onChunk && !callbacks.onChunk(buffer.data(), got)) return result;
  }
  result.outcome = HttpOutcome::Completed;
  return result;
}

}  // namespace vn::platform

#pragma once

// A loopback HTTP/1.1 server for tests, with switches for the faults a download
// engine must survive. Serves resources registered by path; binds 127.0.0.1
// (or the loopback address given) on an ephemeral port; keep-alive supported;
// If-Range honoured (a validator that is not the current ETag or Last-Modified
// gets the whole resource, 200); one thread per connection. All switches may
// be changed while the server runs. The destructor stops it and joins every
// thread (bounded: client sockets are shut down). Given a TLS identity it
// speaks HTTPS instead, with the same switches.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace vn::test {

struct ResourceOptions {
  std::string body;
  bool rangeSupport = true;        // honour "Range: bytes=a-b" with 206
  bool sendContentLength = true;   // false: chunked transfer encoding for 200
  bool contentRangeTotalUnknown = false;  // 206 with "Content-Range: bytes a-b/*"
  std::string etag;                // sent when not empty (give the quotes yourself)
  std::string lastModified;        // sent when not empty
  std::string contentDisposition;  // sent as it is when not empty
  int failFirstRequests = 0;       // answer the first N requests with failStatus
  int failStatus = 503;            // e.g. 503, 429, 404
  int failFromRequest = -1;        // >= 0: from request N+1 on, answer failStatus
  std::string retryAfter;          // sent with failStatus answers when not empty
  int status = 0;                  // not 0: always this status and body (no body for 204, 304)
  std::string contentRange;        // sent as it is with status answers when not empty
  std::int64_t dropAfterBytes = -1;  // >= 0: close the connection after this many body bytes of each response
  int dropResponses = -1;          // how many responses drop (-1: all of them)
  std::int64_t bytesPerSecondPerConnection = 0;  // > 0: throttle each connection
  std::string redirectTo;          // when not empty: answer 302 with this Location
  std::string requiredCookie;      // when not empty: 403 unless the Cookie header is exactly this
  std::int64_t contentRangeShift = 0;  // 206 answers start this many bytes before the asked one
  int changeAfterRequests = -1;    // >= 0: from request N+1 on, serve changedBody and changedEtag
  std::string changedBody;         // the new version (its size may differ)
  std::string changedEtag;         // "" sends none
  // > 0: each answer suffers, with this chance in percent, one fault drawn at
  // random: a 503, a body dropped part-way, a slow body or a body that stalls
  // for a while part-way. Drawn from the server's own seeded generator.
  int randomFaultPercent = 0;
};

struct ServerCounters {
  int requests = 0;                 // requests for any path
  int rangeRequests = 0;            // requests that carried a Range header
  int maxConcurrentConnections = 0; // highest number of open connections at once
  // Highest number of requests being answered at once. Unlike connections, an
  // idle kept-alive connection in the client's pool does not count.
  int maxConcurrentRequests = 0;
  int connectionsAccepted = 0;
  int openConnections = 0;          // connections open right now
  std::int64_t bodyBytesSent = 0;   // response body bytes written
};

// PEM files the server presents (see test_certificates.h).
struct TlsIdentity {
  std::string certificateFile;
  std::string keyFile;
};

class HttpTestServer {
 public:
  // faultSeed seeds the generator behind randomFaultPercent. address is the
  // loopback address to listen on: another one (127.0.0.2) is another host.
  explicit HttpTestServer(std::uint32_t faultSeed = 1, const std::string& address = "127.0.0.1");
  // Throws std::runtime_error when the identity cannot be loaded.
  explicit HttpTestServer(const TlsIdentity& tls);
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  // Adds or replaces the resource at path (e.g. "/file.bin").
  void SetResource(const std::string& path, const ResourceOptions& options);
  // Changes the validators of an existing resource.
  void SetValidators(const std::string& path, const std::string& etag,
                     const std::string& lastModified);

  std::uint16_t port() const;
  // "http://<address>:<port><path>", https for a TLS server
  std::string Url(const std::string& path) const;

  ServerCounters Counters() const;
  void ResetCounters();
  // Last value of a request header seen for path ("" when never seen).
  std::string LastRequestHeader(const std::string& path, const std::string& name) const;

  // An outage: closes the listening socket and every open connection. Until
  // ComeBack nothing answers on the port (connections are refused).
  void GoDown();
  // Listens again on the same port.
  void ComeBack();

  // Blocks until at least n requests have arrived (any path) or the timeout passes.
  bool WaitForRequests(int n, std::chrono::milliseconds timeout) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};

}  // namespace vn::test

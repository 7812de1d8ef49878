// Loopback HTTP/1.1 server for tests. Each accepted connection gets a thread
// that reads requests (GET/HEAD, no request bodies) and answers them from the
// registered resources until the peer closes, a fault switch drops it, or the
// server stops. Connection records keep their fd open until the thread is
// joined, so the destructor can shut down any of them without racing a close.
// A TLS server does its handshake on the connection's thread, then speaks the
// same HTTP over the TLS stream.
#include "tests/http_server/http_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>

namespace vn::test {
namespace {

constexpr std::size_t kMaxRequestHeadBytes = 65536;
constexpr auto kThrottleSlice = std::chrono::milliseconds(10);
// The random faults: how slow a slow body is and how long a stall lasts.
constexpr std::int64_t kSlowBytesPerSecond = 512 * 1024;
constexpr auto kStall = std::chrono::milliseconds(2000);

enum class Fault { kNone, kUnavailable, kDrop, kSlow, kStall };

// Waits up to timeout; false as soon as the peer hangs up, so that a client
// that let go no longer counts as an open connection while we throttle.
bool WaitUnlessPeerGone(int fd, std::chrono::milliseconds timeout) {
  pollfd peer{fd, POLLRDHUP, 0};
  if (poll(&peer, 1, static_cast<int>(timeout.count())) <= 0) return true;
  return (peer.revents & (POLLRDHUP | POLLHUP | POLLERR)) == 0;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 206:
      return "Partial Content";
    case 302:
      return "Found";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 416:
      return "Range Not Satisfiable";
    case 429:
      return "Too Many Requests";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

struct SslContextDeleter {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslDeleter {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

// One accepted connection's byte stream: the socket itself, or TLS over it.
struct Channel {
  int fd = -1;
  SSL* ssl = nullptr;

  ssize_t Receive(char* data, std::size_t size) {
    if (ssl == nullptr) return recv(fd, data, size, 0);
    return SSL_read(ssl, data, static_cast<int>(std::min<std::size_t>(size, 1 << 20)));
  }
  ssize_t Send(const char* data, std::size_t size) {
    if (ssl == nullptr) return send(fd, data, size, MSG_NOSIGNAL);
    const int sent = SSL_write(ssl, data, static_cast<int>(std::min<std::size_t>(size, 1 << 20)));
    if (sent <= 0) errno = EPIPE;  // never retried as EINTR
    return sent;
  }
};

struct Request {
  std::string method;
  std::string path;                            // target without the query
  std::map<std::string, std::string> headers;  // lower-case names
  bool keepAlive = true;
};

// Parses "bytes=a-b" or "bytes=a-"; false for anything else (multiple ranges,
// suffix ranges), which the server then ignores like an unknown header.
bool ParseRange(const std::string& value, std::int64_t& first, std::int64_t& last) {
  const std::string prefix = "bytes=";
  if (value.compare(0, prefix.size(), prefix) != 0) return false;
  const std::string spec = value.substr(prefix.size());
  const auto dash = spec.find('-');
  if (dash == std::string::npos || dash == 0) return false;
  try {
    std::size_t used = 0;
    first = std::stoll(spec.substr(0, dash), &used);
    if (used != dash || first < 0) return false;
    const std::string tail = spec.substr(dash + 1);
    if (tail.empty()) {
      last = -1;
      return true;
    }
    last = std::stoll(tail, &used);
    return used == tail.size() && last >= first;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

struct HttpTestServer::Impl {
  struct Resource {
    ResourceOptions options;
    int served = 0;   // requests answered, for failFirstRequests
    int dropped = 0;  // responses cut short, for dropResponses
  };

  struct Connection {
    int fd = -1;
    std::thread thread;
    bool finished = false;  // guarded by mutex
  };

  int listenFd = -1;
  std::uint16_t port = 0;
  std::string address = "127.0.0.1";  // a loopback address, dotted
  std::unique_ptr<SSL_CTX, SslContextDeleter> tls;  // null: plain HTTP
  std::atomic<bool> stopping{false};
  std::thread acceptThread;

  mutable std::mutex mutex;
  mutable std::condition_variable requestArrived;
  std::map<std::string, Resource> resources;                              // guarded by mutex
  std::map<std::string, std::map<std::string, std::string>> seenHeaders;  // guarded by mutex
  ServerCounters counters;                                                // guarded by mutex
  std::mt19937 faultRandom;                                               // guarded by mutex
  int openConnections = 0;                                                // guarded by mutex
  int answering = 0;                                                      // guarded by mutex
  std::list<Connection> connections;                                      // guarded by mutex

  void AcceptLoop();
  void ReapFinished();
  void Serve(Connection* connection);
  void Listen(std::uint16_t wantedPort = 0);
  // Stops accepting, shuts every connection down and joins every thread.
  void Shut();
  bool ReadRequest(Channel& channel, std::string& buffer, Request& request);
  bool Answer(Channel& channel, const Request& request);
  bool SendAll(Channel& channel, const char* data, std::size_t size);
  bool SendBody(Channel& channel, const std::string& body, std::int64_t first, std::int64_t count,
                bool chunked, std::int64_t dropAfter, std::int64_t bytesPerSecond,
                std::int64_t stallAfter);
  Fault DrawFault(int percent);  // call under mutex
  void CountBodyBytes(std::int64_t bytes) {
    std::lock_guard lock(mutex);
    counters.bodyBytesSent += bytes;
  }
};

void HttpTestServer::Impl::AcceptLoop() {
  while (!stopping.load()) {
    pollfd pending{listenFd, POLLIN, 0};
    const int ready = poll(&pending, 1, 100);
    ReapFinished();
    if (ready <= 0) continue;
    const int fd = accept(listenFd, nullptr, nullptr);
    if (fd < 0) continue;
    std::lock_guard lock(mutex);
    if (stopping.load()) {
      close(fd);
      break;
    }
    ++counters.connectionsAccepted;
    ++openConnections;
    counters.maxConcurrentConnections =
        std::max(counters.maxConcurrentConnections, openConnections);
    Connection& connection = connections.emplace_back();
    connection.fd = fd;
    connection.thread = std::thread([this, &connection] { Serve(&connection); });
  }
}

void HttpTestServer::Impl::ReapFinished() {
  std::list<Connection> done;
  {
    std::lock_guard lock(mutex);
    for (auto it = connections.begin(); it != connections.end();) {
      auto next = std::next(it);
      if (it->finished) done.splice(done.end(), connections, it);
      it = next;
    }
  }
  for (Connection& connection : done) {
    connection.thread.join();
    close(connection.fd);
  }
}

void HttpTestServer::Impl::Serve(Connection* connection) {
  const int fd = connection->fd;
  Channel channel{fd, nullptr};
  std::unique_ptr<SSL, SslDeleter> ssl;
  if (tls) {
    ssl.reset(SSL_new(tls.get()));
    channel.ssl = ssl.get();
  }
  const bool ready = !tls || (ssl && SSL_set_fd(ssl.get(), fd) == 1 && SSL_accept(ssl.get()) == 1);
  std::string buffer;
  Request request;
  while (ready && !stopping.load() && ReadRequest(channel, buffer, request)) {
    const bool answered = Answer(channel, request);
    {
      std::lock_guard lock(mutex);
      --answering;
    }
    if (!answered || !request.keepAlive) break;
  }
  shutdown(fd, SHUT_RDWR);
  std::lock_guard lock(mutex);
  --openConnections;
  connection->finished = true;
}

bool HttpTestServer::Impl::ReadRequest(Channel& channel, std::string& buffer,
                                       Request& request) {
  std::size_t end;
  while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
    if (buffer.size() > kMaxRequestHeadBytes) return false;
    char chunk[4096];
    const ssize_t got = channel.Receive(chunk, sizeof chunk);
    if (got <= 0) return false;
    buffer.append(chunk, static_cast<std::size_t>(got));
  }
  const std::string head = buffer.substr(0, end);
  buffer.erase(0, end + 4);

  request = Request{};
  std::size_t lineEnd = head.find("\r\n");
  const std::string requestLine = head.substr(0, lineEnd);
  const auto space1 = requestLine.find(' ');
  const auto space2 = requestLine.find(' ', space1 == std::string::npos ? 0 : space1 + 1);
  if (space1 == std::string::npos || space2 == std::string::npos) return false;
  request.method = requestLine.substr(0, space1);
  const std::string target = requestLine.substr(space1 + 1, space2 - space1 - 1);
  request.path = target.substr(0, target.find('?'));
  const std::string version = requestLine.substr(space2 + 1);
  request.keepAlive = version == "HTTP/1.1";

  while (lineEnd != std::string::npos) {
    const std::size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    const std::string line =
        head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    request.headers[Lower(line.substr(0, colon))] = Trim(line.substr(colon + 1));
  }
  const auto connectionHeader = request.headers.find("connection");
  if (connectionHeader != request.headers.end()) {
    const std::string value = Lower(connectionHeader->second);
    if (value == "close") request.keepAlive = false;
    if (value == "keep-alive") request.keepAlive = true;
  }

  std::lock_guard lock(mutex);
  ++counters.requests;
  if (request.headers.count("range") != 0) ++counters.rangeRequests;
  ++answering;
  counters.maxConcurrentRequests = std::max(counters.maxConcurrentRequests, answering);
  auto& seen = seenHeaders[request.path];
  for (const auto& [name, value] : request.headers) seen[name] = value;
  requestArrived.notify_all();
  return true;
}

bool HttpTestServer::Impl::Answer(Channel& channel, const Request& request) {
  // Decide the whole response under the lock, then send without it.
  int status = 200;
  std::string extraHeaders;
  std::string body;
  std::int64_t first = 0;
  std::int64_t count = 0;
  bool chunked = false;
  std::int64_t dropAfter = -1;
  std::int64_t bytesPerSecond = 0;
  std::int64_t stallAfter = -1;
  {
    std::lock_guard lock(mutex);
    const auto found = resources.find(request.path);
    if (found == resources.end()) {
      status = 404;
    } else {
      Resource& resource = found->second;
      const ResourceOptions& options = resource.options;
      const int serial = resource.served++;
      const bool changed =
          options.changeAfterRequests >= 0 && serial >= options.changeAfterRequests;
      const std::string& content = changed ? options.changedBody : options.body;
      const std::string& etag = changed ? options.changedEtag : options.etag;
      if (!etag.empty()) extraHeaders += "ETag: " + etag + "\r\n";
      if (!options.lastModified.empty()) {
        extraHeaders += "Last-Modified: " + options.lastModified + "\r\n";
      }
      if (!options.contentDisposition.empty()) {
        extraHeaders += "Content-Disposition: " + options.contentDisposition + "\r\n";
      }
      std::int64_t rangeFirst = 0;
      std::int64_t rangeLast = 0;
      const auto rangeHeader = request.headers.find("range");
      const auto ifRange = request.headers.find("if-range");
      const bool validatorHolds =
          ifRange == request.headers.end() || (!etag.empty() && ifRange->second == etag) ||
          (!options.lastModified.empty() && ifRange->second == options.lastModified);
      const bool ranged = options.rangeSupport && validatorHolds &&
                          rangeHeader != request.headers.end() &&
                          ParseRange(rangeHeader->second, rangeFirst, rangeLast);
      const auto size = static_cast<std::int64_t>(content.size());
      const Fault fault = DrawFault(options.randomFaultPercent);
      const auto cookie = request.headers.find("cookie");
      if (fault == Fault::kUnavailable) {
        status = 503;
      } else if (!options.requiredCookie.empty() &&
                 (cookie == request.headers.end() || cookie->second != options.requiredCookie)) {
        status = 403;
      } else if (serial < options.failFirstRequests ||
                 (options.failFromRequest >= 0 && serial >= options.failFromRequest)) {
        status = options.failStatus;
        if (!options.retryAfter.empty()) extraHeaders += "Retry-After: " + options.retryAfter + "\r\n";
      } else if (options.status != 0) {
        status = options.status;
        if (!options.contentRange.empty()) {
          extraHeaders += "Content-Range: " + options.contentRange + "\r\n";
        }
        if (status != 204 && status != 304) {
          body = content;
          count = size;
        }
      } else if (!options.redirectTo.empty()) {
        status = 302;
        extraHeaders += "Location: " + options.redirectTo + "\r\n";
      } else if (ranged && rangeFirst >= size) {
        status = 416;
        extraHeaders += "Content-Range: bytes */" + std::to_string(size) + "\r\n";
      } else {
        body = content;
        bytesPerSecond = options.bytesPerSecondPerConnection;
        if (options.dropAfterBytes >= 0 &&
            (options.dropResponses < 0 || resource.dropped < options.dropResponses)) {
          dropAfter = options.dropAfterBytes;
          ++resource.dropped;
        }
        if (ranged) {
          status = 206;
          first = std::max<std::int64_t>(0, rangeFirst - options.contentRangeShift);
          const std::int64_t last = rangeLast < 0 ? size - 1 : std::min(rangeLast, size - 1);
          count = last - first + 1;
          extraHeaders += "Content-Range: bytes " + std::to_string(first) + "-" +
                          std::to_string(last) + "/" +
                          (options.contentRangeTotalUnknown ? "*" : std::to_string(size)) + "\r\n";
        } else {
          count = size;
          chunked = !options.sendContentLength;
        }
        const std::int64_t somewhere =
            std::uniform_int_distribution<std::int64_t>(0, std::max<std::int64_t>(0, count - 1))(
                faultRandom);
        if (fault == Fault::kDrop) dropAfter = somewhere;
        if (fault == Fault::kSlow) bytesPerSecond = kSlowBytesPerSecond;
        if (fault == Fault::kStall) stallAfter = somewhere;
      }
    }
  }

  std::string head = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n";
  head += extraHeaders;
  head += chunked ? "Transfer-Encoding: chunked\r\n"
                  : "Content-Length: " + std::to_string(count) + "\r\n";
  if (!request.keepAlive) head += "Connection: close\r\n";
  head += "\r\n";
  if (!SendAll(channel, head.data(), head.size())) return false;
  if (request.method == "HEAD") return true;
  return SendBody(channel, body, first, count, chunked, dropAfter, bytesPerSecond, stallAfter);
}

Fault HttpTestServer::Impl::DrawFault(int percent) {
  if (percent <= 0 || std::uniform_int_distribution<int>(0, 99)(faultRandom) >= percent) {
    return Fault::kNone;
  }
  return static_cast<Fault>(std::uniform_int_distribution<int>(1, 4)(faultRandom));
}

bool HttpTestServer::Impl::SendAll(Channel& channel, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = channel.Send(data, size);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

// Returns false when the connection must close (peer gone, or a drop).
bool HttpTestServer::Impl::SendBody(Channel& channel, const std::string& body, std::int64_t first,
                                    std::int64_t count, bool chunked, std::int64_t dropAfter,
                                    std::int64_t bytesPerSecond, std::int64_t stallAfter) {
  const std::int64_t toSend = dropAfter >= 0 ? std::min(count, dropAfter) : count;
  const std::int64_t piece =
      bytesPerSecond > 0 ? std::max<std::int64_t>(1, bytesPerSecond / 100) : 65536;
  const auto started = std::chrono::steady_clock::now();
  std::int64_t sent = 0;
  while (sent < toSend) {
    if (stopping.load()) return false;
    if (sent >= stallAfter && stallAfter >= 0) {
      stallAfter = -1;
      if (!WaitUnlessPeerGone(channel.fd, kStall)) return false;
    }
    if (bytesPerSecond > 0) {
      const auto elapsed =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started);
      if (static_cast<double>(sent) >= elapsed.count() * static_cast<double>(bytesPerSecond)) {
        if (!WaitUnlessPeerGone(channel.fd, kThrottleSlice)) return false;
        continue;
      }
    }
    const std::int64_t size = std::min(piece, toSend - sent);
    const char* data = body.data() + first + sent;
    if (chunked) {
      char sizeLine[32];
      std::snprintf(sizeLine, sizeof sizeLine, "%llx\r\n", static_cast<unsigned long long>(size));
      if (!SendAll(channel, sizeLine, std::strlen(sizeLine))) return false;
    }
    if (!SendAll(channel, data, static_cast<std::size_t>(size))) return false;
    if (chunked && !SendAll(channel, "\r\n", 2)) return false;
    sent += size;
    CountBodyBytes(size);
  }
  if (toSend < count) return false;
  if (chunked && !SendAll(channel, "0\r\n\r\n", 5)) return false;
  return true;
}

HttpTestServer::HttpTestServer(std::uint32_t faultSeed, const std::string& address)
    : impl(std::make_unique<Impl>()) {
  impl->faultRandom.seed(faultSeed);
  impl->address = address;
  impl->Listen();
}

HttpTestServer::HttpTestServer(const TlsIdentity& tls) : impl(std::make_unique<Impl>()) {
  impl->tls.reset(SSL_CTX_new(TLS_server_method()));
  if (!impl->tls ||
      SSL_CTX_use_certificate_chain_file(impl->tls.get(), tls.certificateFile.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(impl->tls.get(), tls.keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    throw std::runtime_error("Test server: cannot load the TLS identity");
  }
  impl->Listen();
}

void HttpTestServer::Impl::Listen(std::uint16_t wantedPort) {
  listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd < 0) throw std::runtime_error("Test server: socket failed");
  const int yes = 1;
  setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(wantedPort);
  if (inet_pton(AF_INET, this->address.c_str(), &address.sin_addr) != 1) {
    close(listenFd);
    throw std::runtime_error("Test server: not an IPv4 address: " + this->address);
  }
  socklen_t length = sizeof address;
  if (bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listenFd, 128) != 0 ||
      getsockname(listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(listenFd);
    throw std::runtime_error("Test server: cannot listen on " + this->address);
  }
  port = ntohs(address.sin_port);
  acceptThread = std::thread([this] { AcceptLoop(); });
}

void HttpTestServer::Impl::Shut() {
  if (listenFd < 0) return;
  stopping.store(true);
  shutdown(listenFd, SHUT_RDWR);  // wakes the accept loop's poll at once
  acceptThread.join();
  {
    std::lock_guard lock(mutex);
    for (auto& connection : connections) shutdown(connection.fd, SHUT_RDWR);
  }
  // Threads only take the mutex briefly, so joining without it cannot deadlock;
  // the list no longer changes once the accept thread is gone.
  for (auto& connection : connections) {
    connection.thread.join();
    close(connection.fd);
  }
  {
    std::lock_guard lock(mutex);
    connections.clear();
  }
  close(listenFd);
  listenFd = -1;
}

HttpTestServer::~HttpTestServer() { impl->Shut(); }

void HttpTestServer::GoDown() { impl->Shut(); }

void HttpTestServer::ComeBack() {
  if (impl->listenFd >= 0) return;
  impl->stopping.store(false);
  impl->Listen(impl->port);
}

void HttpTestServer::SetResource(const std::string& path, const ResourceOptions& options) {
  std::lock_guard lock(impl->mutex);
  impl->resources[path] = Impl::Resource{options, 0, 0};
}

void HttpTestServer::SetValidators(const std::string& path, const std::string& etag,
                                   const std::string& lastModified) {
  std::lock_guard lock(impl->mutex);
  auto& options = impl->resources[path].options;
  options.etag = etag;
  options.lastModified = lastModified;
}

std::uint16_t HttpTestServer::port() const { return impl->port; }

std::string HttpTestServer::Url(const std::string& path) const {
  return (impl->tls ? "https://" : "http://") + impl->address + ":" + std::to_string(impl->port) +
         path;
}

ServerCounters HttpTestServer::Counters() const {
  std::lock_guard lock(impl->mutex);
  ServerCounters counters = impl->counters;
  counters.openConnections = impl->openConnections;
  return counters;
}

void HttpTestServer::ResetCounters() {
  std::lock_guard lock(impl->mutex);
  impl->counters = ServerCounters{};
  impl->counters.maxConcurrentConnections = impl->openConnections;
  impl->counters.maxConcurrentRequests = impl->answering;
}

std::string HttpTestServer::LastRequestHeader(const std::string& path,
                                              const std::string& name) const {
  std::lock_guard lock(impl->mutex);
  const auto forPath = impl->seenHeaders.find(path);
  if (forPath == impl->seenHeaders.end()) return "";
  const auto value = forPath->second.find(Lower(name));
  return value == forPath->second.end() ? "" : value->second;
}

bool HttpTestServer::WaitForRequests(int n, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl->mutex);
  return impl->requestArrived.wait_for(lock, timeout, [&] { return impl->counters.requests >= n; });
}

}  // namespace vn::test

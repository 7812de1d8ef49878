#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/http.h"
#include "tests/http_server/http_test_server.h"
#include "tests/http_server/test_certificates.h"
#include "tests/support/test_environment.h"

namespace vn::test {
namespace {

using platform::ByteRange;
using platform::HttpCallbacks;
using platform::HttpConnection;
using platform::HttpOutcome;
using platform::HttpResponseHead;
using platform::HttpSession;
using platform::MakeRequestTarget;

// Loopback requests must never go through a proxy from the environment.
class NoProxyEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    for (const char* name :
         {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
      unsetenv(name);
    }
  }
};
const auto* const kNoProxy = ::testing::AddGlobalTestEnvironment(new NoProxyEnvironment);

// Records everything a Get delivers.
struct Recorder {
  HttpResponseHead head;
  int headCalls = 0;
  std::string body;
  std::size_t largestChunk = 0;
  int chunks = 0;

  HttpCallbacks Callbacks() {
    HttpCallbacks callbacks;
    callbacks.onHead = [this](const HttpResponseHead& received) {
      head = received;
      ++headCalls;
      return true;
    };
    callbacks.onChunk = [this](const char* data, std::size_t size) {
      EXPECT_EQ(headCalls, 1) << "a body chunk arrived before the head";
      body.append(data, size);
      largestChunk = std::max(largestChunk, size);
      ++chunks;
      return true;
    };
    return callbacks;
  }
};

// A port on 127.0.0.1 with nothing listening on it.
std::uint16_t ClosedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

// Answers one connection with a fixed response, then closes it: for heads the
// test server would never send.
class CannedServer {
 public:
  explicit CannedServer(std::string response) : reply(std::move(response)) {
    listenFd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listenFd, 1);
    getsockname(listenFd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    thread = std::thread([this] {
      const int fd = accept(listenFd, nullptr, nullptr);
      if (fd < 0) return;
      std::string request;
      char buffer[4096];
      ssize_t got;
      while (request.find("\r\n\r\n") == std::string::npos &&
             (got = recv(fd, buffer, sizeof buffer, 0)) > 0) {
        request.append(buffer, static_cast<std::size_t>(got));
      }
      send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
      close(fd);
    });
  }
  ~CannedServer() {
    shutdown(listenFd, SHUT_RDWR);  // wakes accept when no client came
    thread.join();
    close(listenFd);
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port) + "/"; }

 private:
  std::string reply;
  int listenFd = -1;
  std::uint16_t port = 0;
  std::thread thread;
};

void ExpectInvalid(const std::string& url) {
  try {
    MakeRequestTarget(url, "", "");
    ADD_FAILURE() << "accepted " << url;
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Invalid download URL") << url;
  }
}

TEST(MakeRequestTarget, HttpsWithoutPortDefaultsTo443AndIsSecure) {
  const auto target = MakeRequestTarget("https://example.com/file.iso", "Agent/1", "");
  EXPECT_EQ(target.host, "example.com");
  EXPECT_EQ(target.port, 443);
  EXPECT_TRUE(target.secure);
  EXPECT_EQ(target.path, "/file.iso");
  EXPECT_EQ(target.userAgent, "Agent/1");
  EXPECT_EQ(target.url, "https://example.com/file.iso");
}

TEST(MakeRequestTarget, HttpKeepsPortQueryAndFragmentAsWritten) {
  const auto target =
      MakeRequestTarget("http://example.com:8080/dir/a%20b.bin?x=1&y=2#part", "", "http://ref/");
  EXPECT_EQ(target.host, "example.com");
  EXPECT_EQ(target.port, 8080);
  EXPECT_FALSE(target.secure);
  EXPECT_EQ(target.path, "/dir/a%20b.bin?x=1&y=2#part");
  EXPECT_EQ(target.referrer, "http://ref/");
  EXPECT_EQ(MakeRequestTarget("http://example.com", "", "").port, 80);
  EXPECT_EQ(MakeRequestTarget("http://example.com", "", "").path, "/");
}

TEST(MakeRequestTarget, EmptyUserAgentGetsDefault) {
  EXPECT_EQ(MakeRequestTarget("http://example.com/", "", "").userAgent, "VarnelV2/0.1");
}

TEST(MakeRequestTarget, AnythingButAbsoluteHttpIsInvalid) {
  ExpectInvalid("ftp://example.com/file");
  ExpectInvalid("not a url");
  ExpectInvalid("");
  ExpectInvalid("/relative/path.bin");
  ExpectInvalid("example.com/file");
  ExpectInvalid("file:///etc/passwd");
}

class HttpGet : public ::testing::Test {
 protected:
  HttpTestServer server;
  HttpSession session;
  HttpConnection connection{session};

  platform::HttpResult Get(const std::string& path, Recorder& recorder,
                           std::optional<ByteRange> range = std::nullopt) {
    return connection.Get(MakeRequestTarget(server.Url(path), "", ""), range, recorder.Callbacks());
  }
};

TEST_F(HttpGet, RangeGives206WithHeadValues) {
  const std::string content = MakeContent(10000);
  ResourceOptions options;
  options.body = content;
  options.etag = "\"v1\"";
  options.lastModified = "Wed, 21 Oct 2015 07:28:00 GMT";
  server.SetResource("/file.bin", options);

  Recorder recorder;
  const auto result = Get("/file.bin", recorder, ByteRange{100, 199});

  EXPECT_EQ(result.outcome, HttpOutcome::Completed);
  EXPECT_TRUE(result.headReceived);
  EXPECT_EQ(recorder.headCalls, 1);
  EXPECT_EQ(recorder.head.status, 206);
  EXPECT_EQ(recorder.head.contentLength, 100);
  EXPECT_EQ(recorder.head.contentRange, "bytes 100-199/10000");
  EXPECT_EQ(recorder.head.etag, "\"v1\"");
  EXPECT_EQ(recorder.head.lastModified, "Wed, 21 Oct 2015 07:28:00 GMT");
  EXPECT_EQ(recorder.body, content.substr(100, 100));
  EXPECT_EQ(server.LastRequestHeader("/file.bin", "Range"), "bytes=100-199");
  EXPECT_EQ(server.LastRequestHeader("/file.bin", "Accept-Encoding"), "identity");
  EXPECT_EQ(server.LastRequestHeader("/file.bin", "User-Agent"), "VarnelV2/0.1");
}

TEST_F(HttpGet, FullBodyWithLargeChunksNeverAboveLimit) {
  const std::string content = MakeContent(3 * 1024 * 1024 + 17);
  ResourceOptions options;
  options.body = content;
  server.SetResource("/big.bin", options);

  Recorder recorder;
  const auto result = Get("/big.bin", recorder);

  EXPECT_EQ(result.outcome, HttpOutcome::Completed);
  EXPECT_EQ(recorder.head.status, 200);
  EXPECT_EQ(recorder.head.contentLength, static_cast<std::int64_t>(content.size()));
  EXPECT_EQ(recorder.head.contentRange, "");
  EXPECT_EQ(Sha256Hex(recorder.body), Sha256Hex(content));
  EXPECT_LE(recorder.largestChunk, platform::kHttpChunkBytes);
  EXPECT_EQ(server.LastRequestHeader("/big.bin", "Range"), "");
}

TEST_F(HttpGet, ChunkedBodyCompletes) {
  const std::string content = MakeContent(300000, 7);
  ResourceOptions options;
  options.body = content;
  options.sendContentLength = false;
  server.SetResource("/chunked", options);

  Recorder recorder;
  const auto result = Get("/chunked", recorder);

  EXPECT_EQ(result.outcome, HttpOutcome::Completed);
  EXPECT_EQ(recorder.head.contentLength, 0);
  EXPECT_EQ(recorder.body, content);
}

TEST_F(HttpGet, EmptyBodyStillDeliversHead) {
  server.SetResource("/empty", ResourceOptions{});
  Recorder recorder;
  const auto result = Get("/empty", recorder, ByteRange{0, 0});
  EXPECT_EQ(result.outcome, HttpOutcome::Completed);
  EXPECT_EQ(recorder.headCalls, 1);
  EXPECT_EQ(recorder.head.status, 416);
  EXPECT_EQ(recorder.head.contentRange, "bytes */0");
}

TEST_F(HttpGet, ErrorStatusIsAResponseNotAFailure) {
  Recorder recorder;
  const auto result = Get("/missing", recorder);
  EXPECT_EQ(result.outcome, HttpOutcome::Completed);
  EXPECT_EQ(recorder.head.status, 404);
}

TEST_F(HttpGet, DroppedConnectionIsBodyFailed) {
  ResourceOptions options;
  options.body = MakeContent(100000);
  options.dropAfterBytes = 5000;
  server.SetResource("/drop", options);

  Recorder recorder;
  const auto result = Get("/drop", recorder);

  EXPECT_EQ(result.outcome, HttpOutcome::BodyFailed);
  EXPECT_TRUE(result.headReceived);
  EXPECT_NE(result.errorCode, 0);
  EXPECT_FALSE(result.error.empty());
  EXPECT_EQ(recorder.body, options.body.substr(0, 5000));
}

TEST_F(HttpGet, BrokenChunkedBodyIsBodyFailed) {
  ResourceOptions options;
  options.body = MakeContent(100000);
  options.sendContentLength = false;
  options.dropAfterBytes = 5000;
  server.SetResource("/drop", options);

  Recorder recorder;
  EXPECT_EQ(Get("/drop", recorder).outcome, HttpOutcome::BodyFailed);
}

TEST_F(HttpGet, HeadBeforeDropIsStillDelivered) {
  ResourceOptions options;
  options.body = MakeContent(1000);
  options.dropAfterBytes = 0;
  server.SetResource("/drop", options);

  Recorder recorder;
  const auto result = Get("/drop", recorder, ByteRange{0, 0});
  EXPECT_EQ(result.outcome, HttpOutcome::BodyFailed);
  EXPECT_EQ(recorder.headCalls, 1);
  EXPECT_EQ(recorder.head.status, 206);
  EXPECT_EQ(recorder.head.contentRange, "bytes 0-0/1000");
}

TEST_F(HttpGet, RefusedPortIsRequestFailedWithText) {
  const auto target =
      MakeRequestTarget("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x", "", "");
  Recorder recorder;
  const auto result = connection.Get(target, std::nullopt, recorder.Callbacks());
  EXPECT_EQ(result.outcome, HttpOutcome::RequestFailed);
  EXPECT_FALSE(result.headReceived);
  EXPECT_EQ(result.errorCode, 7);  // CURLE_COULDNT_CONNECT
  EXPECT_FALSE(result.error.empty());
  EXPECT_EQ(recorder.headCalls, 0);
}

TEST_F(HttpGet, ChunkRefusalStopsWithoutReadingTheRest) {
  ResourceOptions options;
  options.body = MakeContent(8 * 1024 * 1024);
  options.bytesPerSecondPerConnection = 2 * 1024 * 1024;
  server.SetResource("/slow", options);

  HttpCallbacks callbacks;
  int chunks = 0;
  callbacks.onChunk = [&](const char*, std::size_t) { return ++chunks < 2; };
  const auto result =
      connection.Get(MakeRequestTarget(server.Url("/slow"), "", ""), std::nullopt, callbacks);

  EXPECT_EQ(result.outcome, HttpOutcome::Stopped);
  EXPECT_EQ(result.errorCode, 0);
  EXPECT_EQ(chunks, 2);
  EXPECT_LT(server.Counters().bodyBytesSent, 4 * 1024 * 1024);
}

TEST_F(HttpGet, HeadRefusalStopsBeforeTheBody) {
  ResourceOptions options;
  options.body = MakeContent(8 * 1024 * 1024);
  options.bytesPerSecondPerConnection = 1024 * 1024;
  server.SetResource("/slow", options);

  HttpCallbacks callbacks;
  int chunks = 0;
  callbacks.onHead = [](const HttpResponseHead&) { return false; };
  callbacks.onChunk = [&](const char*, std::size_t) { return ++chunks > 0; };
  const auto result =
      connection.Get(MakeRequestTarget(server.Url("/slow"), "", ""), std::nullopt, callbacks);

  EXPECT_EQ(result.outcome, HttpOutcome::Stopped);
  EXPECT_EQ(chunks, 0);
}

TEST_F(HttpGet, ShouldStopEndsAThrottledTransferPromptly) {
  ResourceOptions options;
  options.body = MakeContent(8 * 1024 * 1024);
  options.bytesPerSecondPerConnection = 64 * 1024;
  server.SetResource("/slow", options);

  std::atomic<bool> stop{false};
  std::thread stopper([&] {
    server.WaitForRequests(1, std::chrono::seconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop.store(true);
  });
  HttpCallbacks callbacks;
  callbacks.shouldStop = [&] { return stop.load(); };
  const auto started = std::chrono::steady_clock::now();
  const auto result =
      connection.Get(MakeRequestTarget(server.Url("/slow"), "", ""), std::nullopt, callbacks);
  const auto elapsed = std::chrono::steady_clock::now() - started;
  stopper.join();

  EXPECT_EQ(result.outcome, HttpOutcome::Stopped);
  EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST_F(HttpGet, ShouldStopWorksWhileNoDataFlows) {
  ResourceOptions options;
  options.body = MakeContent(1000);
  options.bytesPerSecondPerConnection = 1;  // one byte per second: nearly silent
  server.SetResource("/silent", options);

  std::atomic<bool> stop{false};
  HttpCallbacks callbacks;
  callbacks.shouldStop = [&] { return stop.load(); };
  std::thread stopper([&] {
    server.WaitForRequests(1, std::chrono::seconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop.store(true);
  });
  const auto started = std::chrono::steady_clock::now();
  const auto result =
      connection.Get(MakeRequestTarget(server.Url("/silent"), "", ""), std::nullopt, callbacks);
  stopper.join();
  EXPECT_EQ(result.outcome, HttpOutcome::Stopped);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST_F(HttpGet, CallbackExceptionPropagatesAndConnectionStaysUsable) {
  ResourceOptions options;
  options.body = MakeContent(50000);
  server.SetResource("/file", options);

  HttpCallbacks throwing;
  throwing.onChunk = [](const char*, std::size_t) -> bool {
    throw std::runtime_error("Failed to write");
  };
  const auto target = MakeRequestTarget(server.Url("/file"), "", "");
  try {
    connection.Get(target, std::nullopt, throwing);
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Failed to write");
  }

  Recorder recorder;
  EXPECT_EQ(connection.Get(target, std::nullopt, recorder.Callbacks()).outcome,
            HttpOutcome::Completed);
  EXPECT_EQ(recorder.body, options.body);
}

TEST_F(HttpGet, KeepAliveCarriesSuccessiveRequests) {
  ResourceOptions options;
  options.body = MakeContent(20000);
  server.SetResource("/file", options);

  Recorder first;
  Recorder second;
  EXPECT_EQ(Get("/file", first, ByteRange{0, 9999}).outcome, HttpOutcome::Completed);
  EXPECT_EQ(Get("/file", second, ByteRange{10000, 19999}).outcome, HttpOutcome::Completed);

  EXPECT_EQ(first.body + second.body, options.body);
  EXPECT_EQ(server.Counters().requests, 2);
  EXPECT_EQ(server.Counters().connectionsAccepted, 1);
}

TEST_F(HttpGet, RedirectIsFollowedAndFinalHeadReported) {
  ResourceOptions target;
  target.body = "final body";
  target.etag = "\"final\"";
  server.SetResource("/final", target);
  ResourceOptions hop;
  hop.redirectTo = "/final";
  hop.etag = "\"hop\"";
  server.SetResource("/hop", hop);

  Recorder recorder;
  const auto result = Get("/hop", recorder, ByteRange{0, 4});

  EXPECT_EQ(result.outcome, HttpOutcome::Completed);
  EXPECT_EQ(recorder.headCalls, 1);
  EXPECT_EQ(recorder.head.status, 206);
  EXPECT_EQ(recorder.head.etag, "\"final\"");
  EXPECT_EQ(recorder.head.contentRange, "bytes 0-4/10");
  EXPECT_EQ(recorder.body, "final");
}

TEST_F(HttpGet, EndlessRedirectsFailTheRequest) {
  ResourceOptions loop;
  loop.redirectTo = "/loop";
  server.SetResource("/loop", loop);

  Recorder recorder;
  const auto result = Get("/loop", recorder);
  EXPECT_EQ(result.outcome, HttpOutcome::RequestFailed);
  EXPECT_EQ(result.errorCode, 47);  // CURLE_TOO_MANY_REDIRECTS
  EXPECT_EQ(recorder.headCalls, 0);
}

// Redirect chains across a plain and a TLS loopback server. The TLS server's
// CA is made for this test and trusted by this session only.
TEST(HttpRedirects, NeverBackToHttpOnceAHopWasHttpsAndAtMostTenHops) {
  TempFolder folder;
  const auto certificates = test::WriteTestCertificates(folder.path());
  HttpTestServer plain;
  HttpTestServer secure(certificates.server);
  HttpSession session(platform::HttpSessionOptions{certificates.caFile.string()});
  HttpConnection connection(session);

  ResourceOptions body;
  body.body = "final body";
  plain.SetResource("/final", body);
  secure.SetResource("/final", body);
  const auto redirect = [](HttpTestServer& server, const std::string& path,
                           const std::string& location) {
    ResourceOptions hop;
    hop.redirectTo = location;
    server.SetResource(path, hop);
  };
  redirect(secure, "/to-plain", plain.Url("/final"));
  redirect(plain, "/via-secure", secure.Url("/to-plain"));
  redirect(plain, "/up", secure.Url("/final"));
  // /chain0 -> /chain1 -> ... -> /chain10 -> /final: eleven hops from 0, ten from 1.
  for (int i = 0; i <= 10; ++i) {
    redirect(secure, "/chain" + std::to_string(i),
             i < 10 ? "/chain" + std::to_string(i + 1) : "/final");
  }

  const struct {
    std::string url;
    HttpOutcome outcome;
    int errorCode;
  } cases[] = {
      {plain.Url("/via-secure"), HttpOutcome::RequestFailed, 1},  // CURLE_UNSUPPORTED_PROTOCOL
      {secure.Url("/to-plain"), HttpOutcome::RequestFailed, 1},
      {plain.Url("/up"), HttpOutcome::Completed, 0},
      {secure.Url("/chain1"), HttpOutcome::Completed, 0},
      {secure.Url("/chain0"), HttpOutcome::RequestFailed, 47},  // CURLE_TOO_MANY_REDIRECTS
  };
  for (const auto& c : cases) {
    Recorder recorder;
    const auto result =
        connection.Get(MakeRequestTarget(c.url, "", ""), std::nullopt, recorder.Callbacks());
    EXPECT_EQ(result.outcome, c.outcome) << c.url << ": " << result.error;
    EXPECT_EQ(result.errorCode, c.errorCode) << c.url;
    EXPECT_EQ(recorder.body, c.outcome == HttpOutcome::Completed ? "final body" : "") << c.url;
  }
  // No request ever reached the plain server after a secure hop.
  EXPECT_EQ(plain.LastRequestHeader("/final", "Host"), "");
}

TEST_F(HttpGet, OverlongValidatorReadsAsEmpty) {
  ResourceOptions options;
  options.body = "x";
  options.etag = "\"" + std::string(298, 'a') + "\"";
  options.lastModified = std::string(255, 'b');
  server.SetResource("/long", options);

  Recorder recorder;
  Get("/long", recorder);
  EXPECT_EQ(recorder.head.etag, "");
  EXPECT_EQ(recorder.head.lastModified, std::string(255, 'b'));
}

TEST_F(HttpGet, LineBreaksInClientTextsCannotAddHeaders) {
  ResourceOptions options;
  options.body = "x";
  server.SetResource("/file", options);
  const auto target = MakeRequestTarget(server.Url("/file"), "Agent\r\nX-Injected: agent",
                                        "http://ref/\r\nX-Injected: referrer");
  Recorder recorder;
  EXPECT_EQ(connection.Get(target, std::nullopt, recorder.Callbacks()).outcome,
            HttpOutcome::Completed);
  EXPECT_EQ(server.LastRequestHeader("/file", "X-Injected"), "");
  EXPECT_EQ(server.LastRequestHeader("/file", "Referer"), "http://ref/X-Injected: referrer");
}

TEST(HttpContentLength, LeadingBlanksAreSkipped) {
  CannedServer canned("HTTP/1.1 200 OK\r\nContent-Length:    \t  4\r\n\r\nbody");
  HttpSession session;
  HttpConnection connection(session);
  Recorder recorder;
  const auto result =
      connection.Get(MakeRequestTarget(canned.Url(), "", ""), std::nullopt, recorder.Callbacks());
  EXPECT_EQ(result.outcome, HttpOutcome::Completed);
  EXPECT_EQ(recorder.head.contentLength, 4);
  EXPECT_EQ(recorder.body, "body");
}

TEST(HttpContentLength, OutOfRangeReadsAsZeroAndBodyRunsToClose) {
  CannedServer canned(
      "HTTP/1.1 200 OK\r\nContent-Length: 123456789012345678901234567890\r\n\r\nbody");
  HttpSession session;
  HttpConnection connection(session);
  Recorder recorder;
  const auto result =
      connection.Get(MakeRequestTarget(canned.Url(), "", ""), std::nullopt, recorder.Callbacks());
  EXPECT_EQ(result.outcome, HttpOutcome::Completed);
  EXPECT_EQ(recorder.head.contentLength, 0);
  EXPECT_EQ(recorder.body, "body");
}

TEST(HttpContentLength, LettersAreRefusedAsABrokenResponse) {
  // libcurl will not frame a body by a nonsensical length; it fails the request.
  CannedServer canned("HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\nbody");
  HttpSession session;
  HttpConnection connection(session);
  Recorder recorder;
  const auto result =
      connection.Get(MakeRequestTarget(canned.Url(), "", ""), std::nullopt, recorder.Callbacks());
  EXPECT_EQ(result.outcome, HttpOutcome::RequestFailed);
  EXPECT_FALSE(result.error.empty());
  EXPECT_TRUE(recorder.body.empty());
}

}  // namespace
}  // namespace vn::test

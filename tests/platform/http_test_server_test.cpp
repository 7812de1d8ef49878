// The loopback server's own switches, checked with raw sockets so that what
// the HTTP layer tests rely on is known to be on the wire.
#include "tests/http_server/http_test_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "tests/support/test_environment.h"

namespace vn::test {
namespace {

// Sends one request with "Connection: close" and reads the whole answer
// (bounded by a receive timeout).
std::string Exchange(const HttpTestServer& server, const std::string& path,
                     const std::string& extraHeaders = "") {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  timeval timeout{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(server.port());
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders +
                                "Connection: close\r\n\r\n";
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char buffer[65536];
    ssize_t got;
    while ((got = recv(fd, buffer, sizeof buffer, 0)) > 0) {
      answer.append(buffer, static_cast<std::size_t>(got));
    }
  }
  close(fd);
  return answer;
}

ResourceOptions Body(std::string body) {
  ResourceOptions options;
  options.body = std::move(body);
  return options;
}

std::string StatusLine(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }

TEST(HttpTestServer, FailsFirstRequestsThenServes) {
  HttpTestServer server;
  ResourceOptions failing = Body("data");
  failing.failFirstRequests = 2;
  failing.failStatus = 503;
  server.SetResource("/f", failing);
  EXPECT_EQ(StatusLine(Exchange(server, "/f")), "HTTP/1.1 503 Service Unavailable");
  EXPECT_EQ(StatusLine(Exchange(server, "/f")), "HTTP/1.1 503 Service Unavailable");
  const std::string answer = Exchange(server, "/f");
  EXPECT_EQ(StatusLine(answer), "HTTP/1.1 200 OK");
  EXPECT_EQ(answer.substr(answer.size() - 4), "data");
  EXPECT_EQ(server.Counters().requests, 3);
}

TEST(HttpTestServer, OpenRangeAndUnknownTotal) {
  HttpTestServer server;
  ResourceOptions unknownTotal = Body("0123456789");
  unknownTotal.contentRangeTotalUnknown = true;
  server.SetResource("/r", unknownTotal);
  const std::string answer = Exchange(server, "/r", "Range: bytes=7-\r\n");
  EXPECT_EQ(StatusLine(answer), "HTTP/1.1 206 Partial Content");
  EXPECT_NE(answer.find("Content-Range: bytes 7-9/*\r\n"), std::string::npos);
  EXPECT_EQ(answer.substr(answer.size() - 3), "789");
  EXPECT_EQ(server.Counters().rangeRequests, 1);
  EXPECT_EQ(server.LastRequestHeader("/r", "range"), "bytes=7-");
}

TEST(HttpTestServer, RangeIgnoredWithoutRangeSupport) {
  HttpTestServer server;
  ResourceOptions noRanges = Body("0123456789");
  noRanges.rangeSupport = false;
  server.SetResource("/r", noRanges);
  const std::string answer = Exchange(server, "/r", "Range: bytes=2-3\r\n");
  EXPECT_EQ(StatusLine(answer), "HTTP/1.1 200 OK");
  EXPECT_NE(answer.find("Content-Length: 10\r\n"), std::string::npos);
}

TEST(HttpTestServer, FixedStatusAndUnknownPath) {
  HttpTestServer server;
  ResourceOptions gone = Body("x");
  gone.status = 410;
  server.SetResource("/gone", gone);
  EXPECT_EQ(StatusLine(Exchange(server, "/gone")), "HTTP/1.1 410 Status");
  EXPECT_EQ(StatusLine(Exchange(server, "/nothing")), "HTTP/1.1 404 Not Found");
}

TEST(HttpTestServer, DropsOnlyTheGivenNumberOfResponses) {
  HttpTestServer server;
  ResourceOptions dropping = Body("0123456789");
  dropping.dropAfterBytes = 4;
  dropping.dropResponses = 1;
  server.SetResource("/d", dropping);
  const std::string cut = Exchange(server, "/d");
  EXPECT_EQ(cut.substr(cut.size() - 4), "0123");
  const std::string whole = Exchange(server, "/d");
  EXPECT_EQ(whole.substr(whole.size() - 10), "0123456789");
  EXPECT_EQ(server.Counters().bodyBytesSent, 14);
}

TEST(HttpTestServer, StopsPromptlyWithAThrottledTransferOpen) {
  const auto started = std::chrono::steady_clock::now();
  {
    HttpTestServer server;
    ResourceOptions slow = Body(MakeContent(1 << 20));
    slow.bytesPerSecondPerConnection = 1000;
    server.SetResource("/slow", slow);
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(server.port());
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string request = "GET /slow HTTP/1.1\r\nHost: x\r\n\r\n";
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    EXPECT_TRUE(server.WaitForRequests(1, std::chrono::seconds(5)));
    EXPECT_FALSE(server.WaitForRequests(2, std::chrono::milliseconds(50)));
    close(fd);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

}  // namespace
}  // namespace vn::test

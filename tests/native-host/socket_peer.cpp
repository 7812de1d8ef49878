#include "tests/native-host/socket_peer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace vn::test {

namespace {

sockaddr_un AddressOf(const std::filesystem::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  return address;
}

}  // namespace

std::optional<std::string> AskSocket(const std::filesystem::path& path, const std::string& request,
                                     std::chrono::milliseconds timeout) {
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::nullopt;
  const auto address = AddressOf(path);
  std::optional<std::string> answer;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    answer.emplace();
    std::string buffer(65536, '\0');
    while (true) {
      pollfd readable{fd, POLLIN, 0};
      if (poll(&readable, 1, static_cast<int>(timeout.count())) != 1) break;
      const ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
      if (got <= 0) break;
      answer->append(buffer.data(), static_cast<std::size_t>(got));
    }
  }
  close(fd);
  return answer;
}

SocketPeer::SocketPeer(const std::filesystem::path& socketPath, std::string reply)
    : path(socketPath), answer(std::move(reply)) {
  listening = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  const auto address = AddressOf(path);
  std::filesystem::remove(path);
  if (listening < 0 ||
      bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(listening, 8) != 0 || pipe2(wake, O_CLOEXEC) != 0) {
    throw std::runtime_error("cannot listen on " + path.string());
  }
  thread = std::thread([this] { Serve(); });
}

SocketPeer::~SocketPeer() {
  const char byte = 0;
  if (write(wake[1], &byte, 1) != 1) std::terminate();
  thread.join();
  close(listening);
  close(wake[0]);
  close(wake[1]);
  std::filesystem::remove(path);
}

std::vector<std::string> SocketPeer::Requests() {
  std::lock_guard lock(mutex);
  return requests;
}

void SocketPeer::Serve() {
  while (true) {
    pollfd entries[] = {{listening, POLLIN, 0}, {wake[0], POLLIN, 0}};
    const int ready = poll(entries, 2, 1000);
    if (ready < 0 || (entries[1].revents & POLLIN) != 0) return;
    if (ready == 0) continue;
    const int connection = accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    pollfd readable{connection, POLLIN, 0};
    if (poll(&readable, 1, 5000) == 1) {
      std::string request(65536, '\0');
      const ssize_t got = recv(connection, request.data(), request.size(), 0);
      if (got >= 0) {
        request.resize(static_cast<std::size_t>(got));
        std::lock_guard lock(mutex);
        requests.push_back(request);
      }
      // In records of at most 64 KiB, as the service answers a long list.
      for (std::size_t sent = 0; sent < answer.size();) {
        const std::size_t record = std::min<std::size_t>(answer.size() - sent, 65536);
        if (send(connection, answer.data() + sent, record, MSG_NOSIGNAL) <= 0) break;
        sent += record;
      }
    }
    close(connection);
  }
}

void ExpectRequestsSoFar(SocketPeer& peer, const std::string& request, std::size_t& asked) {
  const auto requests = peer.Requests();
  if (!request.empty()) {
    ASSERT_EQ(requests.size(), ++asked);
    EXPECT_EQ(requests.back(), request);
  }
  EXPECT_EQ(requests.size(), asked);
}

}  // namespace vn::test

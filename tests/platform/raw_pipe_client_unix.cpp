#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "platform/pipe.h"
#include "tests/platform/raw_pipe_client.h"

namespace vn::test {

struct RawPipeClient::End {
  int fd = -1;
  bool connected = false;
};

RawPipeClient::RawPipeClient(const std::string& name) : end(std::make_unique<End>()) {
  end->fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  const timeval limit{5, 0};
  setsockopt(end->fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, platform::PipePath(name).c_str(), sizeof address.sun_path - 1);
  end->connected =
      connect(end->fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

RawPipeClient::~RawPipeClient() { close(end->fd); }

bool RawPipeClient::Connected() const { return end->connected; }

bool RawPipeClient::Send(const std::string& record) {
  return send(end->fd, record.data(), record.size(), MSG_NOSIGNAL) ==
         static_cast<ssize_t>(record.size());
}

std::optional<std::string> RawPipeClient::ReadToEnd() {
  std::string all;
  char buffer[65536];
  while (true) {
    const ssize_t got = recv(end->fd, buffer, sizeof buffer, 0);
    if (got == 0) return all;
    if (got < 0) return std::nullopt;
    all.append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace vn::test

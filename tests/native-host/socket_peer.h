#pragma once

// A SOCK_SEQPACKET listener at a fixed path, standing in for the desktop user
// interface or the service: it reads one record per connection, answers with a
// fixed text (nothing when the text is empty; records of at most 64 KiB) and
// closes the connection.

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vn::test {

// Sends request as one record to the SOCK_SEQPACKET socket at path and returns
// the records it answers with, up to end of stream; nullopt when it cannot connect.
std::optional<std::string> AskSocket(const std::filesystem::path& path, const std::string& request,
                                     std::chrono::milliseconds timeout = std::chrono::seconds(10));

class SocketPeer {
 public:
  SocketPeer(const std::filesystem::path& path, std::string answer);
  // Stops the thread and removes the socket file.
  ~SocketPeer();
  SocketPeer(const SocketPeer&) = delete;
  SocketPeer& operator=(const SocketPeer&) = delete;

  // The requests received so far, in order.
  std::vector<std::string> Requests();

 private:
  void Serve();

  std::filesystem::path path;
  std::string answer;
  int listening = -1;
  int wake[2] = {-1, -1};
  std::mutex mutex;
  std::vector<std::string> requests;  // guarded by mutex
  std::thread thread;
};

// One row of a table that may or may not reach the peer: the peer has been
// asked `asked` times before it, plus once for request when request is not
// empty (then counted in asked). Wrap in ASSERT_NO_FATAL_FAILURE.
void ExpectRequestsSoFar(SocketPeer& peer, const std::string& request, std::size_t& asked);

}  // namespace vn::test

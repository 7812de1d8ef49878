#include "apps/service/service_usage.h"

#include <exception>

#include "apps/protocol/socket_names.h"
#include "platform/locations.h"
#include "platform/pipe.h"

namespace vn {

std::string ServiceUsage() {
  const auto dataRoot = platform::ResolveDataRoot();
  std::string socket;
  try {
    socket = platform::PipePath(kServiceSocketName).string();
  } catch (const std::exception& error) {
    socket = std::string("none usable: ") + error.what();
  }
  std::string text =
      "Usage: service [--help | --version]\n\n"
      "The Varnel download service. It runs in the background, fetches HTTP, HTTPS\n"
      "and torrent downloads, and answers varnel, the browser's native host and\n"
      "other clients of this user on a local socket, until SIGTERM or SIGINT.\n"
      "It is not started by hand: `varnel service start` starts it, or the\n"
      "systemd user unit that comes with varnel.\n\n"
      "Files:\n";
  text += "  data root  " + dataRoot.string() + "\n";
  text += "  database   " + (dataRoot / "data" / "downloads.db").string() + "\n";
  text += "  torrents   " + (dataRoot / "torrents").string() + "\n";
  text += "  socket     " + socket + "\n";
  text +=
      "  log        none of its own: it writes to standard output and error,\n"
      "             which varnel keeps in its service log and systemd in the journal\n\n"
      "Options:\n"
      "  --help     print this text and exit\n"
      "  --version  print the version and exit\n";
  return text;
}

}  // namespace vn

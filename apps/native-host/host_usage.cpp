#include "apps/native-host/host_usage.h"

#include <exception>

#include "apps/protocol/browser_host_names.h"
#include "apps/protocol/socket_names.h"
#include "platform/locations.h"
#include "platform/pipe.h"

namespace vn {

std::string HostUsage() {
  std::string socket;
  try {
    socket = platform::PipePath(kServiceSocketName).string();
  } catch (const std::exception& error) {
    socket = std::string("none usable: ") + error.what();
  }
  const auto handshakes = platform::ResolveHandshakeFolder() / kHandshakeFileName;
  std::string text = "Usage: native-host [--help | --version]\n\n";
  text += "The Varnel native-messaging host \"" + std::string(kNativeHostName) +
          "\". The browser starts it for\n";
  text +=
      "the Varnel extension (once `varnel browser install` has registered it) and\n"
      "exchanges native messages with it on standard input and output; it is not\n"
      "started by hand. It hands each captured download to the desktop user\n"
      "interface when one takes it, else to the download service, and passes the\n"
      "extension's list, pause, resume and cancel requests on to the service.\n\n"
      "Files:\n";
  text += "  handshakes  " + handshakes.string() + "\n";
  text += "              (the browsers that have pinged it)\n";
  text += "  data root   " + platform::ResolveDataRoot().string() + "\n";
  text += "  socket      " + socket + " (the download service's)\n";
  text +=
      "  log         none: it writes nothing but its replies\n\n"
      "Options:\n"
      "  --help      print this text and exit\n"
      "  --version   print the version and exit\n";
  return text;
}

}  // namespace vn

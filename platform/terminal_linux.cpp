#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/terminal.h"

namespace vn::platform {

bool StandardOutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

std::optional<std::size_t> TerminalColumns() {
  if (!StandardOutputIsTerminal()) return std::nullopt;
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    return static_cast<std::size_t>(size.ws_col);
  }
  if (const char* columns = std::getenv("COLUMNS")) {
    char* end = nullptr;
    const long value = std::strtol(columns, &end, 10);
    if (end != columns && *end == '\0' && value > 0 && value < 100000) {
      return static_cast<std::size_t>(value);
    }
  }
  return std::nullopt;
}

}  // namespace vn::platform

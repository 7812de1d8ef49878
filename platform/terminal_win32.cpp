// Windows terminal questions: the console screen buffer behind standard output.
#include <windows.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

#include "platform/terminal.h"

namespace vn::platform {

bool StandardOutputIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

std::optional<std::size_t> TerminalColumns() {
  if (!StandardOutputIsTerminal()) return std::nullopt;
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    if (columns > 0) return static_cast<std::size_t>(columns);
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

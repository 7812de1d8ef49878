#include "apps/varnel/console.h"

#include <iostream>

#include "apps/varnel/text_width.h"
#include "platform/terminal.h"

namespace vn::cli {
namespace {

// ANSI sequences, written only to terminals.
constexpr const char* kEraseLineEnd = "\x1b[K";
constexpr const char* kCursorHome = "\x1b[H";
constexpr const char* kEraseBelow = "\x1b[J";

}  // namespace

Console::Console() : terminal(platform::StandardOutputIsTerminal()) {}

std::optional<std::size_t> Console::Width() const {
  if (!terminal) return std::nullopt;
  return platform::TerminalColumns().value_or(80);
}

void Console::Line(const std::string& text) {
  EndRedraw();
  std::cout << text << '\n' << std::flush;
}

void Console::Redraw(const std::string& text) {
  if (!terminal) return;
  // One column is left free: writing the last one makes some terminals wrap.
  const std::size_t width = Width().value_or(80);
  std::cout << '\r' << TruncateToWidth(text, width > 1 ? width - 1 : width) << kEraseLineEnd
            << std::flush;
  redrawing = true;
}

void Console::Repaint(const std::vector<std::string>& lines) {
  if (!terminal) return;
  std::cout << kCursorHome;
  for (const auto& line : lines) std::cout << line << kEraseLineEnd << '\n';
  std::cout << kEraseBelow << std::flush;
}

void Console::EndRedraw() {
  if (!redrawing) return;
  std::cout << '\n' << std::flush;
  redrawing = false;
}

void Console::Error(const std::string& text) {
  EndRedraw();
  std::cerr << "varnel: " << text << '\n' << std::flush;
}

}  // namespace vn::cli

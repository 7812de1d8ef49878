#pragma once

// What a command-line program needs to know about the terminal it prints to.
// Both questions are about standard output and may be asked from any thread;
// the answers can change while the program runs (output redirected at start,
// window resized), so callers ask again instead of keeping them.

#include <cstddef>
#include <optional>

namespace vn::platform {

// True when standard output is a terminal (not a file or a pipe).
bool StandardOutputIsTerminal();

// Columns of the terminal on standard output; the COLUMNS variable when the
// terminal does not say; nullopt when standard output is not a terminal or
// neither gives a positive width.
std::optional<std::size_t> TerminalColumns();

}  // namespace vn::platform

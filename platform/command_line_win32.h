#pragma once

// Windows passes a program one command-line string; the program's C runtime
// splits it again. Windows only; no state, any thread.

#include <string>
#include <vector>

namespace vn::platform {

// Joins arguments so that the runtime's splitting gives back each one exactly:
// quoted when it holds a blank, a tab or a quote or is empty, with quotes and
// the backslashes before them escaped.
std::string JoinCommandLine(const std::vector<std::string>& arguments);

}  // namespace vn::platform

#pragma once

// What every program of the project says about itself when asked on its
// command line, and its version (the project's, given once in the top-level
// CMakeLists.txt). Pure functions but for the printing; any thread.

#include <functional>
#include <string>

namespace vn {

// The project's version, "0.1.0" say.
const char* ProgramVersion();

// When the one and only argument is exactly "--help" or "--version", prints
// usage() or "Varnel <program> <version>" on standard output and returns
// true: the program then ends with 0. False for anything else, so that the
// arguments a browser or a service manager passes keep their meaning.
bool AnswerInformationRequest(int argc, const char* const argv[], const char* program,
                              const std::function<std::string()>& usage);

}  // namespace vn

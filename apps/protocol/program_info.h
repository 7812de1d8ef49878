#pragma once

// What every program of the project says about itself when asked on its
// command line, and its version (the project's, given once in the top-level
// CMakeLists.txt). Pure functions; any thread.

namespace vn {

// The project's version, "0.1.0" say.
const char* ProgramVersion();

enum class InformationRequest { kNone, kHelp, kVersion };

// kHelp or kVersion when the one and only argument is exactly "--help" or
// "--version"; kNone for anything else, so that the arguments a browser or a
// service manager passes keep their meaning.
InformationRequest ReadInformationRequest(int argc, const char* const argv[]);

}  // namespace vn

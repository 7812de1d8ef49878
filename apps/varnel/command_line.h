#pragma once

// varnel's command line: the subcommands and their options, help texts with the
// exit codes, and the boundary where failures become a message and an exit
// code. Called once, from main, after the process is initialised.

namespace vn::cli {

// Parses the arguments, runs the chosen subcommand and returns the exit code.
// Never throws a standard exception.
int RunCommandLine(int argc, char** argv);

}  // namespace vn::cli

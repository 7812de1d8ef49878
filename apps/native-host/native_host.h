#pragma once

// The host's message loop: one reply on standard output for every message read
// from standard input, in order, until the input ends.

#include <cstdio>

#include "apps/protocol/browser_host_names.h"

namespace vn {

// Serves messages until the input ends, a message of length 0 arrives, the input
// ends inside a message, or the output is gone; returns the exit code (0). Bad
// input of any kind is answered with an error reply and never ends the loop.
int RunHost(std::FILE* input = stdin, std::FILE* output = stdout);

}  // namespace vn

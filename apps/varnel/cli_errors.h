#pragma once

// The failures that end a varnel command, one exception type per exit code, so
// main is the one place that turns them into a message and an exit status.
// Texts are shown after "varnel: " on standard error.

#include <stdexcept>

namespace vn::cli {

enum ExitCode : int {
  kExitSuccess = 0,
  kExitDownloadFailed = 1,      // --wait saw an end other than Completed; other failures
  kExitUsage = 2,               // the command line is wrong
  kExitServiceUnavailable = 3,  // no service, no answer, or an answer that is not one
  kExitRefused = 4,             // the service answered {"ok":false}
  kExitInterrupted = 130,       // Ctrl-C while waiting; the download goes on
  kExitTerminated = 143,        // SIGTERM while waiting; the download goes on
};

// Bad arguments, found before anything was sent.
class UsageError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

class ServiceUnavailable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Holds the service's own error text.
class CommandRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A waited-for download ended Failed, Cancelled or Paused, or disappeared.
class DownloadFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace vn::cli

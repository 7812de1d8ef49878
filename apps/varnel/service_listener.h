#pragma once

// Who listens on the service's socket. Any program of this user can bind that
// name, so before varnel calls a listener the service, or signals it, both
// have to hold: it runs a service program (ServicePrograms()), and it answers
// list_downloads with a well-formed answer within a bounded wait. Main thread
// only.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

namespace vn::cli {

// A busy service still answers a list this quickly.
inline constexpr std::chrono::milliseconds kIdentifyTimeout{5000};

struct SocketListener {
  std::optional<int> pid;         // nullopt: nothing listens
  std::filesystem::path program;  // empty when it cannot be read
  std::string notTheService;      // why it is not taken for the service; empty when it is

  bool IsService() const { return pid && notTheService.empty(); }
  // "pid N (PROGRAM)", for messages.
  std::string Description() const;
};

SocketListener FindSocketListener();

}  // namespace vn::cli

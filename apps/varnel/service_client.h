#pragma once

// The client end of the service's request socket. Every call is one connection
// with one request and one answer, each wait bounded by the timeout. Not tied to
// a thread; holds no connection between calls.

#include <chrono>
#include <cstddef>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "apps/protocol/socket_names.h"

namespace vn::cli {

inline constexpr std::chrono::milliseconds kRequestTimeout{10000};
// A list of many thousands of downloads still fits.
inline constexpr std::size_t kMaxAnswerBytes = std::size_t{256} << 20;

class ServiceClient {
 public:
  explicit ServiceClient(std::string pipeName = kServiceSocketName,
                         std::chrono::milliseconds timeout = kRequestTimeout,
                         std::size_t maxAnswerBytes = kMaxAnswerBytes);

  // Sends the request and returns the answer exactly as the service wrote it.
  // Throws UsageError when the request is longer than the socket takes, and
  // ServiceUnavailable when no service listens, none answers in time, or the
  // answer is too long.
  std::string Exchange(const nlohmann::json& request) const;

  // Exchange, then the parsed answer when its "ok" is true. Throws
  // ServiceUnavailable when the answer is not a JSON object, and CommandRefused
  // with the service's "error" text, or with refusedText when the service gave
  // none (torrent commands answer a bare {"ok":false}).
  nlohmann::json Call(const nlohmann::json& request, const std::string& refusedText) const;

  // start runs at most once, at the first request that finds no service
  // listening, which is then tried again. Only a command's first request may
  // start one: a service that goes away while a command waits stays gone.
  void StartOnDemand(std::function<void()> start) { onDemand = std::move(start); }

  // Checks an answer already received, as Call does.
  static nlohmann::json CheckAnswer(const std::string& answer, const std::string& refusedText);

 private:
  std::string pipeName;
  std::chrono::milliseconds timeout;
  std::size_t maxAnswerBytes;
  mutable std::function<void()> onDemand;  // emptied by the first request
};

}  // namespace vn::cli

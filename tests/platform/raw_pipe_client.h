#pragma once

// A pipe client that does what SendPipeRequest never does: several records,
// silence, not reading. Every read is bounded (5 s). One thread.

#include <memory>
#include <optional>
#include <string>

namespace vn::test {

class RawPipeClient {
 public:
  explicit RawPipeClient(const std::string& name);
  ~RawPipeClient();
  RawPipeClient(const RawPipeClient&) = delete;
  RawPipeClient& operator=(const RawPipeClient&) = delete;

  bool Connected() const;
  // Sends one record (one message).
  bool Send(const std::string& record);
  // Records until end of stream (on Windows: until the answer's one message
  // is complete); nullopt on an error or time-out.
  std::optional<std::string> ReadToEnd();

 private:
  struct End;
  std::unique_ptr<End> end;
};

}  // namespace vn::test

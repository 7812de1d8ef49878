#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace vn::platform {

// Incremental SHA-256. Not thread-safe; one owner at a time.
// Errors are std::runtime_error: "Failed to open SHA-256 provider" (no context
// or digest), "Failed to create SHA-256 hash" (init), "Failed while hashing
// file" (update), "Failed to finalize SHA-256 hash" (final).
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(const void* data, std::size_t size);

  // The digest as 64 lower-case hexadecimal digits. Call once.
  std::string FinishHex();

 private:
  struct Context;
  std::unique_ptr<Context> context;
};

}  // namespace vn::platform

#pragma once

// SHA-256 on a thread of its own, fed with the chunks the join writes, so that
// hashing overlaps reading and writing instead of re-reading the joined file.

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/sha256.h"

namespace vn {

// Two buffers of kChunkBytes: the caller fills one (Buffer), hands it over
// (Submit) and fills the other while the hasher thread digests the first.
// Owned and used by one thread (the run thread); Finish or the destructor
// joins the hasher thread.
class PipelinedHasher {
 public:
  static constexpr std::size_t kChunkBytes = 1048576;

  PipelinedHasher();
  ~PipelinedHasher();
  PipelinedHasher(const PipelinedHasher&) = delete;
  PipelinedHasher& operator=(const PipelinedHasher&) = delete;

  // The buffer to fill next; waits until the hasher has released it.
  char* Buffer();

  // Hands the first size bytes of Buffer() to the hasher.
  void Submit(std::size_t size);

  // Waits for every submitted chunk; the digest as 64 lower-case hex digits.
  // Rethrows a hashing failure ("Failed while hashing file" and the like).
  std::string Finish();

 private:
  void HashLoop();

  std::unique_ptr<char[]> buffers[2];
  std::size_t fillIndex = 0;  // run thread only
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t pendingSize[2] = {0, 0};  // guarded by mutex; > 0: waiting to be hashed
  bool busy[2] = {false, false};        // guarded by mutex; submitted, not yet hashed
  bool closing = false;                 // guarded by mutex
  std::exception_ptr failure;           // guarded by mutex
  platform::Sha256 hash;                // hasher thread only, until joined
  std::thread thread;
};

}  // namespace vn

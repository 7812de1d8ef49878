#pragma once

// Hashing a download's partial files in offset order on a thread of its own,
// while the join moves them into the final file: every byte is read once by
// the process, and the hash never waits for the final file to be read back.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vn {

// Created and used by the run thread; the hashing thread is its own and is
// joined by Digest or the destructor. The pieces must outlive the hasher and
// must not change while they are hashed: a piece may be moved away only once
// WaitForPiece said it was hashed.
class PieceHasher {
 public:
  explicit PieceHasher(const std::vector<std::filesystem::path>& pieces);
  ~PieceHasher();
  PieceHasher(const PieceHasher&) = delete;
  PieceHasher& operator=(const PieceHasher&) = delete;

  // Waits at most `wait` for piece `index` to be hashed; true once it has.
  // Rethrows the hashing failure when the hashing ended before it.
  bool WaitForPiece(std::size_t index, std::chrono::milliseconds wait);

  // Waits for the hashing to end and returns the digest (64 lower-case hex
  // digits); rethrows the hashing failure.
  std::string Digest();

  // Grows as bytes are hashed; read from any thread.
  std::atomic<std::int64_t> hashedBytes{0};

 private:
  void Run(const std::vector<std::filesystem::path>& pieces);

  std::string digest;
  std::exception_ptr failure;
  std::mutex mutex;
  std::condition_variable progressed;
  std::size_t piecesHashed = 0;  // guarded by mutex
  bool done = false;             // guarded by mutex
  std::thread thread;
};

}  // namespace vn

// Joining copies the partial files into the final file inside the kernel, while
// a second thread hashes the same bytes in the same order; neither the final
// file nor the partial files are read twice by the process.
#include "apps/service/engine/segment_join.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <fstream>
#include <limits>
#include <memory>
#include <mutex>
#include <numeric>
#include <stdexcept>
#include <thread>
#include <vector>

#include "apps/service/engine/partial_files.h"
#include "platform/output_file.h"
#include "platform/sha256.h"

namespace vn {
namespace {

constexpr std::size_t kHashBufferBytes = 65536;
// Each partial file is joined whole, never cut to its range: a partial file
// longer than its range (a write that failed after reaching the disk, an older
// plan's longer file) then makes the joined file too long, and the size check
// that follows refuses it instead of hiding the inconsistency.
constexpr std::int64_t kWholeFile = std::numeric_limits<std::int64_t>::max();

std::vector<std::filesystem::path> PiecesInOffsetOrder(const DownloadTask& task,
                                           const std::filesystem::path& segmentsFolder) {
  std::vector<std::size_t> order(task.segments.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return task.segments[a].start < task.segments[b].start;
  });
  std::vector<std::filesystem::path> pieces;
  for (const std::size_t index : order) pieces.push_back(PartFilePath(segmentsFolder, index));
  return pieces;
}

// Hashes the pieces on a thread of its own. `hashedBytes` grows as it goes.
class PieceHasher {
 public:
  explicit PieceHasher(const std::vector<std::filesystem::path>& pieces)
      : thread([this, &pieces] { Run(pieces); }) {}
  ~PieceHasher() {
    if (thread.joinable()) thread.join();
  }

  // Waits at most `wait` for the hasher to end; true once it has.
  bool WaitFor(std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex);
    return ended.wait_for(lock, wait, [&] { return done; });
  }

  // The digest; rethrows the hashing failure. Call after WaitFor returned true.
  std::string Digest() {
    thread.join();
    if (failure) std::rethrow_exception(failure);
    return digest;
  }

  std::atomic<std::int64_t> hashedBytes{0};

 private:
  void Run(const std::vector<std::filesystem::path>& pieces) {
    try {
      platform::Sha256 hash;
      const auto buffer = std::make_unique<char[]>(kHashBufferBytes);
      for (const std::filesystem::path& piece : pieces) {
        std::ifstream part(piece, std::ios::binary);
        if (!part.is_open()) continue;  // the copy skips it too
        while (true) {
          part.read(buffer.get(), static_cast<std::streamsize>(kHashBufferBytes));
          const std::streamsize got = part.gcount();
          if (part.bad()) throw std::runtime_error("Failed while hashing file");
          if (got < 1) break;
          hash.Update(buffer.get(), static_cast<std::size_t>(got));
          hashedBytes += got;
        }
      }
      digest = hash.FinishHex();
    } catch (...) {
      failure = std::current_exception();
    }
    {
      std::lock_guard lock(mutex);
      done = true;
    }
    ended.notify_all();
  }

  std::string digest;
  std::exception_ptr failure;
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;  // guarded by mutex
  std::thread thread;
};

}  // namespace

std::string JoinPartFiles(const DownloadTask& task, const std::filesystem::path& segmentsFolder,
                          const std::filesystem::path& finalPath, FinishingReporter& reporter) {
  auto output = platform::OutputFile::Create(finalPath);
  if (!output) throw std::runtime_error("Failed to create final output file");
  const std::vector<std::filesystem::path> pieces = PiecesInOffsetOrder(task, segmentsFolder);

  PieceHasher hasher(pieces);
  std::int64_t hashedReported = 0;
  const auto reportHashed = [&] {
    const std::int64_t hashed = hasher.hashedBytes.load();
    reporter.Add(hashed - hashedReported);
    hashedReported = hashed;
  };
  for (const std::filesystem::path& piece : pieces) {
    const std::int64_t appended =
        output->AppendFileRange(piece, kWholeFile, [&](std::int64_t bytes) {
          reporter.Add(bytes);
          reportHashed();
        });
    if (appended < 0) throw std::runtime_error("Failed to write final output file");
  }
  if (!output->Close()) throw std::runtime_error("Failed to write final output file");
  while (!hasher.WaitFor(std::chrono::milliseconds(50))) reportHashed();
  reportHashed();
  return hasher.Digest();
}

}  // namespace vn

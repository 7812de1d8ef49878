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

#include "apps/service/engine/checksum.h"
#include "apps/service/engine/partial_files.h"
#include "platform/file_replace.h"
#include "platform/output_file.h"
#include "platform/sha256.h"

namespace vn {
namespace {

constexpr std::size_t kHashBufferBytes = 65536;
// Inside the segment folder, which belongs to this download alone.
constexpr const char* kJoiningFileName = "joining.part";
constexpr const char* kCreateFailed = "Failed to create final output file";
// Each partial file is joined whole, never cut to its range: a partial file
// longer than its range (a write that failed after reaching the disk, an older
// plan's longer file) then makes the joined file too long, and the size check
// that follows refuses it instead of hiding the inconsistency.
constexpr std::int64_t kWholeFile = std::numeric_limits<std::int64_t>::max();

std::vector<std::filesystem::path> PiecesInOffsetOrder(
    const DownloadTask& task, const std::filesystem::path& segmentsFolder) {
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

// A file already at the final name is this download's own when it holds what
// the download last completed with (a completed download that runs again), or
// exactly what was just joined (replacing it then loses nothing). Anything else
// is the user's or another program's.
bool IsOwnFinishedFile(const DownloadTask& task, const std::string& joinedDigest,
                       const std::filesystem::path& finalPath) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(finalPath, error))) {
    return false;
  }
  try {
    const std::string digest = NormalizeChecksum(ComputeFileSha256(finalPath, {}));
    return digest == joinedDigest ||
           (!task.actualChecksum.empty() && digest == task.actualChecksum);
  } catch (const std::exception&) {
    return false;
  }
}

// Gives the joined file its final name without ever replacing a file that is
// not this download's own.
void PlaceJoinedFile(const DownloadTask& task, const std::string& joinedDigest,
                     const std::filesystem::path& joined, const std::filesystem::path& finalPath) {
  const auto outcome = platform::MoveWithoutReplacing(joined, finalPath);
  if (outcome == platform::MoveOutcome::kMoved) return;
  std::error_code error;
  if (outcome == platform::MoveOutcome::kTargetExists &&
      IsOwnFinishedFile(task, joinedDigest, finalPath)) {
    std::filesystem::rename(joined, finalPath, error);
    if (!error) return;
  }
  std::filesystem::remove(joined, error);
  throw std::runtime_error(kCreateFailed);
}

}  // namespace

std::string JoinPartFiles(const DownloadTask& task, const std::filesystem::path& segmentsFolder,
                          const std::filesystem::path& finalPath, FinishingReporter& reporter) {
  // Joined under a name of its own first, so that no file at the final name
  // is truncated before it is known to be this download's.
  const std::filesystem::path joined = segmentsFolder / kJoiningFileName;
  std::error_code ignored;
  std::filesystem::remove(joined, ignored);
  auto output = platform::OutputFile::Create(joined);
  if (!output) throw std::runtime_error(kCreateFailed);
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
  std::string digest = hasher.Digest();
  PlaceJoinedFile(task, digest, joined, finalPath);
  return digest;
}

}  // namespace vn

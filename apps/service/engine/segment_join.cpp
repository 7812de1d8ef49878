// Joining moves the partial files into the final file inside the kernel, each
// from its end backwards, cutting every chunk off its partial file once it is
// written: a download never needs much more free space than its own size, and
// a join that fails part-way leaves each partial file holding exactly the
// bytes that were not moved, which the next run fetches again. A second thread
// hashes each partial file before it is moved, in offset order, so no byte is
// read twice and the joined file is never read back.
#include "apps/service/engine/segment_join.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "apps/service/engine/checksum.h"
#include "apps/service/engine/partial_files.h"
#include "apps/service/engine/piece_hasher.h"
#include "platform/file_replace.h"
#include "platform/output_file.h"

namespace vn {
namespace {

// Inside the segment folder, which belongs to this download alone.
constexpr const char* kJoiningFileName = "joining.part";
constexpr const char* kCreateFailed = "Failed to create final output file";
constexpr const char* kWriteFailed = "Failed to write final output file: ";
// How often progress is reported while the join waits for the hasher.
constexpr std::chrono::milliseconds kHashWait{50};

// Each partial file is joined whole, never cut to its range: a partial file
// longer than its range (a write that failed after reaching the disk, an older
// plan's longer file) then makes the joined file too long, and the size check
// that follows refuses it instead of hiding the inconsistency.
std::int64_t PieceSize(const std::filesystem::path& piece) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(piece, error))) return 0;
  const auto size = std::filesystem::file_size(piece, error);
  return error ? 0 : static_cast<std::int64_t>(size);
}

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
  // Moving empties the pieces, so a name that can never be given (a folder,
  // a link) is refused while they still hold the bytes.
  const auto finalType = std::filesystem::symlink_status(finalPath, ignored).type();
  if (finalType != std::filesystem::file_type::not_found &&
      finalType != std::filesystem::file_type::regular) {
    throw std::runtime_error(kCreateFailed);
  }
  std::filesystem::remove(joined, ignored);
  auto output = platform::OutputFile::Create(joined);
  if (!output) throw std::runtime_error(kCreateFailed);
  const std::vector<std::filesystem::path> pieces = PiecesInOffsetOrder(task, segmentsFolder);
  // Offsets are fixed before anything moves, since moving empties the pieces.
  std::vector<std::int64_t> offsets;
  std::int64_t offset = 0;
  for (const std::filesystem::path& piece : pieces) {
    offsets.push_back(offset);
    offset += PieceSize(piece);
  }
  // On any failure the joined file is removed: its bytes are lost either way
  // (the pieces no longer hold them, the next run fetches them again), and
  // keeping it would only hold the space.
  const auto failWriting = [&](const std::string& cause) {
    throw std::runtime_error(kWriteFailed + cause);
  };

  PieceHasher hasher(pieces);
  std::int64_t hashedReported = 0;
  const auto reportHashed = [&] {
    const std::int64_t hashed = hasher.hashedBytes.load();
    reporter.Add(hashed - hashedReported);
    hashedReported = hashed;
  };
  std::string digest;
  try {
    for (std::size_t index = 0; index < pieces.size(); ++index) {
      // A piece is emptied as it moves, so it is hashed first; the hasher goes
      // on with the next piece meanwhile.
      while (!hasher.WaitForPiece(index, kHashWait)) reportHashed();
      reportHashed();
      const std::int64_t moved = output->MoveFileInto(pieces[index], offsets[index],
                                                      [&](std::int64_t bytes) {
                                                        reporter.Add(bytes);
                                                        reportHashed();
                                                      });
      if (moved < 0) failWriting(output->ErrorText());
    }
    if (!output->Close()) failWriting(output->ErrorText());
    digest = hasher.Digest();
    reportHashed();
  } catch (...) {
    output.reset();
    std::filesystem::remove(joined, ignored);
    throw;
  }
  PlaceJoinedFile(task, digest, joined, finalPath);
  return digest;
}

}  // namespace vn

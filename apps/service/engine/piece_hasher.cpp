#include "apps/service/engine/piece_hasher.h"

#include <fstream>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "platform/sha256.h"

namespace vn {
namespace {

constexpr std::size_t kHashBufferBytes = 65536;

}  // namespace

PieceHasher::PieceHasher(const std::vector<std::filesystem::path>& pieces)
    : thread([this, &pieces] { Run(pieces); }) {}

PieceHasher::~PieceHasher() {
  if (thread.joinable()) thread.join();
}

bool PieceHasher::WaitForPiece(std::size_t index, std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex);
  if (!progressed.wait_for(lock, wait, [&] { return done || piecesHashed > index; })) return false;
  if (piecesHashed <= index && failure) std::rethrow_exception(failure);
  return true;
}

std::string PieceHasher::Digest() {
  thread.join();
  if (failure) std::rethrow_exception(failure);
  return digest;
}

void PieceHasher::Run(const std::vector<std::filesystem::path>& pieces) {
  try {
    platform::Sha256 hash;
    const auto buffer = std::make_unique<char[]>(kHashBufferBytes);
    for (const std::filesystem::path& piece : pieces) {
      std::error_code error;
      // What the join cannot move (a link, nothing) it does not hash either.
      if (std::filesystem::is_regular_file(std::filesystem::symlink_status(piece, error))) {
        std::ifstream part(piece, std::ios::binary);
        while (part.is_open()) {
          part.read(buffer.get(), static_cast<std::streamsize>(kHashBufferBytes));
          const std::streamsize got = part.gcount();
          if (part.bad()) throw std::runtime_error("Failed while hashing file");
          if (got < 1) break;
          hash.Update(buffer.get(), static_cast<std::size_t>(got));
          hashedBytes += got;
        }
      }
      std::lock_guard lock(mutex);
      ++piecesHashed;
      progressed.notify_all();
    }
    digest = hash.FinishHex();
  } catch (...) {
    failure = std::current_exception();
  }
  std::lock_guard lock(mutex);
  done = true;
  progressed.notify_all();
}

}  // namespace vn

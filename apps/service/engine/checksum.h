#pragma once

// SHA-256 of finished downloads and the normal form of digest texts.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace vn {

// Called after each hashed chunk with the chunk's byte count.
using HashProgress = std::function<void(std::int64_t bytes)>;

// Digest of the file as 64 lower-case hex digits, read through one 64 KiB
// buffer; progress may be empty. Throws std::runtime_error with
// "Failed to open file for checksum verification", "Failed while hashing file"
// (also for a read error part-way) or the hashing library's texts.
std::string ComputeFileSha256(const std::filesystem::path& path, const HashProgress& progress);

// Removes all ASCII white space and lower-cases ASCII capitals; other bytes
// pass unchanged.
std::string NormalizeChecksum(const std::string& text);

}  // namespace vn

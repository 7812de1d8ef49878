#pragma once

#include <filesystem>
#include <string>

namespace vn::test {

// A fresh folder under the run's temporary root, removed when the object dies.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return folder; }

 private:
  std::filesystem::path folder;
};

// The temporary root that test_main made for this test binary; LOCALAPPDATA,
// XDG_RUNTIME_DIR, XDG_DATA_HOME, XDG_DOWNLOAD_DIR and HOME all point below it.
const std::filesystem::path& TestRoot();

// Writes and reads whole files, for fixtures.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
std::string ReadFile(const std::filesystem::path& path);

// Lower-case hex SHA-256 of bytes, computed independently of the product code.
std::string Sha256Hex(const std::string& bytes);

// Deterministic pseudo-random bytes (same seed, same bytes).
std::string MakeContent(std::size_t size, unsigned seed = 1);

}  // namespace vn::test

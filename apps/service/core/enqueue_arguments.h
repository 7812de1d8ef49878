#pragma once

// Checks and normal forms of what a client asks a new download or torrent to
// be, applied before anything is stored, so that a request that cannot work is
// refused at once instead of after a whole download.

#include <cstddef>
#include <string>

#include "apps/protocol/error_texts.h"

namespace vn {

inline constexpr const char* kInvalidChecksum = "Invalid checksum";
inline constexpr const char* kFileNameTooLong = error_text::kFileNameTooLong;

// The longest last part of a file name that leaves room for the segment
// folder's ".segments" within the system's 255-byte limit on one name.
inline constexpr std::size_t kMaxFileNameBytes = 255 - 9;

// Whether an expected SHA-256 is usable: empty (nothing to check), or 64 hex
// digits once white space is removed.
bool IsWellFormedChecksum(const std::string& expectedChecksum);

// Whether a checksum algorithm names the one digest a download is checked
// with: empty (the default), or SHA-256 spelled "SHA256" or "SHA-256" in any
// case.
bool IsSupportedChecksumAlgorithm(const std::string& algorithm);

// Whether a run could request url: absolute http or https with a host, no
// zero byte. Anything else (javascript:, file:, data:, ftp:, about:, a page of
// the browser) is refused before it reaches the list.
bool IsRequestableUrl(const std::string& url);

// The folder a download or torrent goes to, always absolute: the default
// download folder when outputPath is empty; "~" or "~/..." below the home
// folder when HOME is known; any other relative folder below the default
// download folder (never the service's working folder, which nobody sees).
std::string ResolveOutputFolder(const std::string& outputPath);

// Whether every part of fileName fits one name on disk, the last one with room
// for ".segments".
bool FileNameFits(const std::string& fileName);

// fileName with suffix inserted before the extension of its last part (what
// follows the last dot; a leading dot starts none), the stem shortened so that
// the last part fits kMaxFileNameBytes. A long extension is not kept, and no
// UTF-8 sequence is cut in two. With an empty suffix: fileName made to fit.
std::string FitFileName(const std::string& fileName, const std::string& suffix = "");

}  // namespace vn

#pragma once

// The commands of the service's request socket and the members of their
// requests and answers. A request is one JSON object whose member `type` names
// the command; the other members are its arguments.

namespace vn::command {

inline constexpr const char* kListDownloads = "list_downloads";
inline constexpr const char* kEnqueueDownload = "enqueue_download";
inline constexpr const char* kEnqueueTorrent = "enqueue_torrent";
inline constexpr const char* kPauseDownload = "pause_download";
inline constexpr const char* kResumeDownload = "resume_download";
inline constexpr const char* kCancelDownload = "cancel_download";
inline constexpr const char* kDeleteDownload = "delete_download";
inline constexpr const char* kRetryDownload = "retry_download";
inline constexpr const char* kSetSpeedLimiter = "set_speed_limiter";
inline constexpr const char* kUpdateDownloadUrl = "update_download_url";
inline constexpr const char* kSetGlobalSpeedLimit = "set_global_speed_limit";
inline constexpr const char* kGetDownloadChecksum = "get_download_checksum";

}  // namespace vn::command

namespace vn::member {

// Every request.
inline constexpr const char* kType = "type";

// Arguments.
inline constexpr const char* kId = "id";
inline constexpr const char* kUrl = "url";
inline constexpr const char* kOutputPath = "outputPath";
inline constexpr const char* kFileName = "fileName";
inline constexpr const char* kReferrer = "referrer";
inline constexpr const char* kUserAgent = "userAgent";
inline constexpr const char* kChecksumAlgorithm = "checksumAlgorithm";
inline constexpr const char* kExpectedChecksum = "expectedChecksum";
inline constexpr const char* kConnectionCount = "connectionCount";
inline constexpr const char* kUseSpeedLimiter = "useSpeedLimiter";
inline constexpr const char* kMaxSpeedBytesPerSecond = "maxSpeedBytesPerSecond";
inline constexpr const char* kMagnet = "magnet";
inline constexpr const char* kTorrentFilePath = "torrentFilePath";
inline constexpr const char* kDeleteFile = "deleteFile";
inline constexpr const char* kEnabled = "enabled";
// enqueue_download: the Cookie header the browser would send for the URL. Held
// in memory only, sent only to the URL's own origin.
inline constexpr const char* kCookie = "cookie";
// The native host's list_downloads: how many of the newest downloads to answer.
inline constexpr const char* kLimit = "limit";

// Answers: {"ok":true,...} or {"error":text,"ok":false}; enqueue answers carry
// the new download's `id`, list_downloads its `downloads`.
inline constexpr const char* kOk = "ok";
inline constexpr const char* kError = "error";
inline constexpr const char* kDownloads = "downloads";
// The native host's list_downloads answer: how many downloads the service
// lists, of which `downloads` holds the newest.
inline constexpr const char* kTotal = "total";
// get_download_checksum answers `expectedChecksum`, the SHA-256 the client
// gave ("" when none), and `actualChecksum`, the one computed when the file was
// finished ("" until then).
inline constexpr const char* kActualChecksum = "actualChecksum";

// Each task of `downloads` (besides id, url, fileName, outputPath and
// connectionCount above); `status` holds a status text (status_texts.h).
inline constexpr const char* kStatus = "status";
inline constexpr const char* kDownloadedBytes = "downloadedBytes";
inline constexpr const char* kTotalBytes = "totalBytes";
inline constexpr const char* kSpeedBytesPerSecond = "speedBytesPerSecond";
inline constexpr const char* kFailureReason = "failureReason";
inline constexpr const char* kIsTorrent = "isTorrent";
inline constexpr const char* kFinalizeDone = "finalizeDone";
inline constexpr const char* kFinalizeTotal = "finalizeTotal";
inline constexpr const char* kSegments = "segments";

// Each segment of a task's `segments` (besides downloadedBytes).
inline constexpr const char* kIndex = "index";
inline constexpr const char* kStart = "start";
inline constexpr const char* kEnd = "end";

}  // namespace vn::member

#pragma once

// The "error" texts of answers that clients show or match on. Those ending in
// ": " are prefixes; the cause follows them.

namespace vn::error_text {

// Command protocol.
inline constexpr const char* kUnknownRequestType = "Unknown request type";
inline constexpr const char* kInvalidJsonRequest = "Invalid JSON request: ";
inline constexpr const char* kNoHandlerRegistered = "No handler registered";

// Download commands.
inline constexpr const char* kMissingUrl = "Missing url";
inline constexpr const char* kMissingId = "Missing id";
inline constexpr const char* kTaskNotFound = "Task not found";
inline constexpr const char* kDownloadIsRunning = "Download is running";
// A verified file is never put at stake by a command that would fetch again
// or clean up: only retry and delete with deleteFile replace or remove it.
inline constexpr const char* kDownloadIsCompleted = "Download is completed";
inline constexpr const char* kTorrentHasNoUrl = "A torrent has no download URL to update";
inline constexpr const char* kUnsupportedChecksumAlgorithm = "Unsupported checksum algorithm";
inline constexpr const char* kInvalidSpeedLimit = "Invalid speed limit";
inline constexpr const char* kInvalidFileName = "Invalid file name";
inline constexpr const char* kFileNameTooLong = "File name too long";
// A download enqueued with the browser's cookies, run again after the service
// restarted (cookies are never stored), was refused by the server.
inline constexpr const char* kSignInExpired =
    "Sign-in expired: capture the download again or refresh its link";

// Torrent commands.
inline constexpr const char* kTorrentEngineUnavailable = "Torrent engine unavailable";
inline constexpr const char* kTorrentEngineNotRunning = "Torrent engine is not running";
inline constexpr const char* kMissingTorrentSource = "Provide a magnet link or .torrent file";
inline constexpr const char* kCouldNotAddTorrent = "Could not add torrent";
inline constexpr const char* kInvalidMagnet = "Invalid magnet link: ";
inline constexpr const char* kUnreadableTorrentFile = "Could not read .torrent file: ";

// Captures the native host refuses or cannot deliver.
inline constexpr const char* kBlobUrlRefused =
    "Refusing to open dialog for blob URL without a resolved source URL";
inline constexpr const char* kImageUrlRefused = "Refusing to open dialog for image URL";
inline constexpr const char* kServiceUnavailable = "Service unavailable";
inline constexpr const char* kServiceDidNotAnswer = "Service did not answer";
// The enqueue request would exceed what the service reads of one request.
inline constexpr const char* kDownloadUrlTooLong = "Download URL too long";
// The same, when the request fits without the browser's cookies: the browser,
// which holds the session, is better placed to fetch the file.
inline constexpr const char* kCookiesTooLong = "Browser cookies too long";
// The service's list of downloads could not be read (cut short or not JSON).
inline constexpr const char* kUnreadableServiceAnswer = "Unreadable service answer";

}  // namespace vn::error_text

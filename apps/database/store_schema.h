#pragma once

// The format of downloads.db: one row per HTTP download in `downloads`, one row
// per byte range in `download_segments`, removed with its download by the
// foreign key's cascade. Files written by older versions lack some columns of
// `downloads`; kMigrations adds them. Tables are never dropped and columns never
// removed, so any older file stays readable.

#include <array>

namespace vn::store_schema {

// Write-ahead log without a sync per commit: a commit is one append to the
// log, which is in the system's cache once written, so an answered status
// change survives a kill of the service. A power loss may take back the last
// commits before the next checkpoint syncs the log, but never damages the
// file. A sync per commit would cost each status change a disk flush, about
// as long as the whole rest of an enqueue.
inline constexpr const char* kJournalModePragma = "PRAGMA journal_mode=WAL;";
inline constexpr const char* kSynchronousPragma = "PRAGMA synchronous=NORMAL;";
// Moves what the log holds into the database file, so the file alone is whole.
inline constexpr const char* kCheckpointPragma = "PRAGMA wal_checkpoint(TRUNCATE);";
inline constexpr const char* kForeignKeysPragma = "PRAGMA foreign_keys=ON;";

inline constexpr const char* kCreateDownloads = R"(
    CREATE TABLE IF NOT EXISTS downloads (
        id TEXT PRIMARY KEY,
        url TEXT NOT NULL,
        file_name TEXT NOT NULL,
        output_path TEXT NOT NULL,
        referrer TEXT NOT NULL DEFAULT '',
        user_agent TEXT NOT NULL DEFAULT '',
        etag TEXT NOT NULL DEFAULT '',
        last_modified TEXT NOT NULL DEFAULT '',
        checksum_algorithm TEXT NOT NULL DEFAULT '',
        expected_checksum TEXT NOT NULL DEFAULT '',
        actual_checksum TEXT NOT NULL DEFAULT '',
        failure_reason TEXT NOT NULL DEFAULT '',
        status TEXT NOT NULL,
        total_bytes INTEGER NOT NULL DEFAULT 0,
        downloaded_bytes INTEGER NOT NULL DEFAULT 0,
        speed_bytes_per_second INTEGER NOT NULL DEFAULT 0,
        connection_count INTEGER NOT NULL DEFAULT 1,
        signed_in INTEGER NOT NULL DEFAULT 0,
        created_utc TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP,
        updated_utc TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP
    );
)";

inline constexpr const char* kCreateDownloadSegments = R"(
    CREATE TABLE IF NOT EXISTS download_segments (
        download_id TEXT NOT NULL,
        segment_index INTEGER NOT NULL,
        start_offset INTEGER NOT NULL,
        end_offset INTEGER NOT NULL,
        downloaded_bytes INTEGER NOT NULL DEFAULT 0,
        PRIMARY KEY (download_id, segment_index),
        FOREIGN KEY (download_id) REFERENCES downloads(id) ON DELETE CASCADE
    );
)";

struct ColumnMigration {
  const char* column;
  const char* statement;
};

// Applied in this order, each only when its column is missing.
inline constexpr std::array<ColumnMigration, 7> kMigrations = {{
    {"etag", "ALTER TABLE downloads ADD COLUMN etag TEXT NOT NULL DEFAULT '';"},
    {"last_modified", "ALTER TABLE downloads ADD COLUMN last_modified TEXT NOT NULL DEFAULT '';"},
    {"checksum_algorithm",
     "ALTER TABLE downloads ADD COLUMN checksum_algorithm TEXT NOT NULL DEFAULT '';"},
    {"expected_checksum",
     "ALTER TABLE downloads ADD COLUMN expected_checksum TEXT NOT NULL DEFAULT '';"},
    {"actual_checksum",
     "ALTER TABLE downloads ADD COLUMN actual_checksum TEXT NOT NULL DEFAULT '';"},
    {"failure_reason", "ALTER TABLE downloads ADD COLUMN failure_reason TEXT NOT NULL DEFAULT '';"},
    {"signed_in", "ALTER TABLE downloads ADD COLUMN signed_in INTEGER NOT NULL DEFAULT 0;"},
}};

// Column numbers of kSelectDownloads follow the save parameters minus one.
inline constexpr const char* kSelectDownloads = R"(
    SELECT
        id,
        url,
        file_name,
        output_path,
        referrer,
        user_agent,
        etag,
        last_modified,
        checksum_algorithm,
        expected_checksum,
        actual_checksum,
        failure_reason,
        status,
        total_bytes,
        downloaded_bytes,
        speed_bytes_per_second,
        connection_count,
        signed_in
    FROM downloads
    ORDER BY created_utc ASC, id ASC;
)";

inline constexpr const char* kSelectSegments = R"(
    SELECT
        download_id,
        segment_index,
        start_offset,
        end_offset,
        downloaded_bytes
    FROM download_segments
    ORDER BY download_id ASC, segment_index ASC;
)";

inline constexpr const char* kUpsertDownload = R"(
    INSERT INTO downloads (
        id, url, file_name, output_path, referrer, user_agent, etag, last_modified,
        checksum_algorithm, expected_checksum, actual_checksum, failure_reason, status,
        total_bytes, downloaded_bytes, speed_bytes_per_second, connection_count, signed_in,
        created_utc, updated_utc
    ) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, CURRENT_TIMESTAMP, CURRENT_TIMESTAMP)
    ON CONFLICT(id) DO UPDATE SET
        url = excluded.url,
        file_name = excluded.file_name,
        output_path = excluded.output_path,
        referrer = excluded.referrer,
        user_agent = excluded.user_agent,
        etag = excluded.etag,
        last_modified = excluded.last_modified,
        checksum_algorithm = excluded.checksum_algorithm,
        expected_checksum = excluded.expected_checksum,
        actual_checksum = excluded.actual_checksum,
        failure_reason = excluded.failure_reason,
        status = excluded.status,
        total_bytes = excluded.total_bytes,
        downloaded_bytes = excluded.downloaded_bytes,
        speed_bytes_per_second = excluded.speed_bytes_per_second,
        connection_count = excluded.connection_count,
        signed_in = excluded.signed_in,
        updated_utc = CURRENT_TIMESTAMP;
)";

inline constexpr const char* kDeleteSegmentsOf =
    "DELETE FROM download_segments WHERE download_id = ?;";

inline constexpr const char* kInsertSegment = R"(
    INSERT INTO download_segments (
        download_id, segment_index, start_offset, end_offset, downloaded_bytes
    ) VALUES (?, ?, ?, ?, ?);
)";

inline constexpr const char* kBeginTransaction = "BEGIN IMMEDIATE TRANSACTION;";
inline constexpr const char* kCommitTransaction = "COMMIT;";

inline constexpr const char* kDeleteDownload = "DELETE FROM downloads WHERE id = ?;";

inline constexpr const char* kCountDownloads = "SELECT COUNT(*) FROM downloads;";

}  // namespace vn::store_schema

#pragma once

// What varnel shows of one entry of the service's list_downloads answer. The
// service owns the record; the client only reads the members it displays and
// tolerates absent ones (an older or newer service may list fewer or more).

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace vn::cli {

struct TaskView {
  std::string id;
  std::string fileName;
  std::string status;  // the service's text form: "Queued" ... "Cancelled"
  std::string failureReason;
  std::int64_t downloadedBytes = 0;
  std::int64_t totalBytes = 0;  // 0 or less: size not known yet
  std::int64_t speedBytesPerSecond = 0;
  std::int64_t finalizeDone = 0;
  std::int64_t finalizeTotal = 0;
  int connectionCount = 0;
  bool isTorrent = false;
};

// Reads one task object; members of the wrong type throw the JSON library's
// type error, which callers report as a malformed answer.
TaskView ReadTaskView(const nlohmann::json& task);

// Reads the "downloads" array of a list_downloads answer. Throws
// std::runtime_error when the answer has no such array.
std::vector<TaskView> ReadTaskList(const nlohmann::json& answer);

// The entry with that id, if listed.
std::optional<TaskView> FindTask(const std::vector<TaskView>& tasks, const std::string& id);

// Percent done in [0, 100], or nullopt while the size is unknown. While the
// service joins and hashes (Verifying) it is the progress of that phase.
std::optional<double> PercentDone(const TaskView& task);

// A download that rests until a command moves it: Completed, Failed, Cancelled
// or Paused, for HTTP downloads and torrents alike. Waiting for a download ends
// here.
bool HasEnded(const TaskView& task);

// The text with every control character (C0, DEL and C1) and every invisible
// format character (bidirectional controls, zero-width characters, line and
// paragraph separators, byte order mark) replaced by '?', so names chosen by
// remote servers cannot move the cursor, end a line, or show a name other than
// the real one.
std::string Printable(const std::string& text);

}  // namespace vn::cli

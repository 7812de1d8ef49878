// The list_downloads answer written straight to text. The member order is the
// sorted order of the names, and strings are escaped exactly as the JSON
// library writes them (quote, backslash and control characters only; UTF-8
// passes through), so the bytes equal dumping the TaskToJson objects. A list
// with text that is not valid UTF-8 takes the library's path, which replaces
// each bad sequence exactly as every other answer does.
#include <charconv>
#include <cstdint>
#include <string_view>

#include "apps/protocol/command_names.h"
#include "apps/service/core/task_json.h"

namespace vn {
namespace {

class ListWriter {
 public:
  std::string text;

  void String(std::string_view value) {
    static constexpr char kHex[] = "0123456789abcdef";
    text += '"';
    for (const char c : value) {
      const auto u = static_cast<unsigned char>(c);
      switch (c) {
        case '"':
          text += "\\\"";
          break;
        case '\\':
          text += "\\\\";
          break;
        case '\b':
          text += "\\b";
          break;
        case '\t':
          text += "\\t";
          break;
        case '\n':
          text += "\\n";
          break;
        case '\f':
          text += "\\f";
          break;
        case '\r':
          text += "\\r";
          break;
        default:
          if (u < 0x20) {
            text += "\\u00";
            text += kHex[u >> 4];
            text += kHex[u & 15];
          } else {
            text += c;
          }
      }
    }
    text += '"';
  }

  void Number(std::int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text.append(digits, end);
  }

  // `"name":` — names here are plain ASCII.
  void Name(std::string_view name) {
    text += '"';
    text += name;
    text += "\":";
  }

  // A member followed by the comma of the next one.
  void Member(std::string_view name, std::int64_t value) {
    Name(name);
    Number(value);
    text += ',';
  }
  void Member(std::string_view name, std::string_view value) {
    Name(name);
    String(value);
    text += ',';
  }

  void Segment(const DownloadSegment& segment, std::int64_t index) {
    text += '{';
    Member(member::kDownloadedBytes, segment.downloadedBytes);
    Member(member::kEnd, segment.end);
    Member(member::kIndex, index);
    Name(member::kStart);
    Number(segment.start);
    text += '}';
  }

  void Task(const DownloadTask& task) {
    text += '{';
    Member(member::kConnectionCount, task.connectionCount);
    Member(member::kDownloadedBytes, task.downloadedBytes);
    Member(member::kFailureReason, task.failureReason);
    Member(member::kFileName, task.fileName);
    Member(member::kFinalizeDone, task.finalizeDone);
    Member(member::kFinalizeTotal, task.finalizeTotal);
    Member(member::kId, task.id);
    Name(member::kIsTorrent);
    text += task.isTorrent ? "true," : "false,";
    Member(member::kOutputPath, task.outputPath);
    Name(member::kSegments);
    text += '[';
    std::int64_t index = 1;
    for (const auto& segment : task.segments) {
      if (index > 1) text += ',';
      Segment(segment, index++);
    }
    text += "],";
    Member(member::kSpeedBytesPerSecond, task.speedBytesPerSecond);
    Member(member::kStatus, StatusText(task.status));
    Member(member::kTotalBytes, task.totalBytes);
    Name(member::kUrl);
    String(task.url);
    text += '}';
  }
};

bool AllTextIsUtf8(const DownloadTask& task) {
  for (const std::string* text :
       {&task.failureReason, &task.fileName, &task.id, &task.outputPath, &task.url}) {
    if (!IsValidUtf8(*text)) return false;
  }
  return true;
}

}  // namespace

std::string ListDownloadsAnswer(const std::vector<DownloadTask>& tasks,
                                const std::vector<DownloadTask>& more) {
  const auto lists = {&tasks, &more};
  ListWriter writer;
  writer.text.reserve(256 + (tasks.size() + more.size()) * 400);
  writer.text += "{\"downloads\":[";
  bool first = true;
  for (const auto* list : lists) {
    for (const auto& task : *list) {
      if (!AllTextIsUtf8(task)) {
        nlohmann::json downloads = nlohmann::json::array();
        for (const auto* each : lists) {
          for (const auto& listed : *each) downloads.push_back(TaskToJson(listed));
        }
        return CompactJson({{member::kOk, true}, {member::kDownloads, std::move(downloads)}});
      }
      if (!first) writer.text += ',';
      first = false;
      writer.Task(task);
    }
  }
  writer.text += "],\"ok\":true}";
  return std::move(writer.text);
}

}  // namespace vn

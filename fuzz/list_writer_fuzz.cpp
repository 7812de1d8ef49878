// Random tasks (any bytes in every text: UTF-8, invalid UTF-8, control
// characters) written by the list_downloads writer and by the JSON library
// under the protocol's writing policy (invalid UTF-8 replaced).
// Property: the same bytes, and neither refuses.
#include <nlohmann/json.hpp>

#include "apps/protocol/json_text.h"
#include "apps/service/core/task_json.h"
#include "fuzz/fuzz_environment.h"

namespace {

// Takes values from the front of the input; zeros once it runs out.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}

  bool Empty() const { return at >= size; }

  std::uint8_t Byte() { return at < size ? data[at++] : 0; }

  std::int64_t Number() {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = value << 8 | Byte();
    return static_cast<std::int64_t>(value);
  }

  std::string Text() {
    std::string text;
    for (std::size_t length = Byte() % 24; length > 0 && !Empty(); --length) {
      text += static_cast<char>(Byte());
    }
    return text;
  }

 private:
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;
};

vn::DownloadTask RandomTask(Reader& in) {
  vn::DownloadTask task;
  task.id = in.Text();
  task.url = in.Text();
  task.outputPath = in.Text();
  task.fileName = in.Text();
  task.failureReason = in.Text();
  task.totalBytes = in.Number();
  task.downloadedBytes = in.Number();
  task.speedBytesPerSecond = in.Number();
  task.finalizeDone = in.Number();
  task.finalizeTotal = in.Number();
  task.isTorrent = in.Byte() & 1;
  task.connectionCount = static_cast<std::int32_t>(in.Number());
  task.status = static_cast<vn::DownloadStatus>(in.Byte() % 8);
  for (int count = in.Byte() % 4; count > 0; --count) {
    task.segments.push_back({in.Number(), in.Number(), in.Number()});
  }
  return task;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in(data, size);
  std::vector<vn::DownloadTask> tasks;
  while (!in.Empty() && tasks.size() < 8) tasks.push_back(RandomTask(in));

  std::string expected;
  bool expectedRefused = false;
  try {
    nlohmann::json downloads = nlohmann::json::array();
    for (const auto& task : tasks) downloads.push_back(vn::TaskToJson(task));
    expected = vn::CompactJson(nlohmann::json{{"downloads", downloads}, {"ok", true}});
  } catch (const nlohmann::json::exception&) {
    expectedRefused = true;
  }
  std::string written;
  bool writtenRefused = false;
  try {
    written = vn::ListDownloadsAnswer(tasks);
  } catch (const nlohmann::json::exception&) {
    writtenRefused = true;
  }
  if (writtenRefused || expectedRefused) vn::fuzz::Fail("a writer refused a task");
  if (written != expected) vn::fuzz::Fail("writers differ:\n" + written + "\n" + expected);
  return 0;
}

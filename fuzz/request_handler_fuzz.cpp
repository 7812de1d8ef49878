// Any bytes as one request to a running service whose data root is private.
// Property: every answer is a JSON object whose "ok" is a boolean. Whatever a
// request creates is deleted again (keeping its files) so the list stays short.
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "apps/service/core/download_service.h"
#include "fuzz/fuzz_environment.h"

namespace {

vn::DownloadService* service = nullptr;

nlohmann::json CheckedAnswer(const std::string& request) {
  const std::string answer = service->HandleRequest(request);
  const auto parsed = nlohmann::json::parse(answer, nullptr, false);
  if (!parsed.is_object() || !parsed.contains("ok") || !parsed["ok"].is_boolean()) {
    vn::fuzz::Fail("answer is not {\"ok\":bool,...}: " + answer);
  }
  return parsed;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vn::fuzz::MakePrivateRoot();
  // The torrent session listens on loopback only.
  setenv("VARNEL_TORRENT_LISTEN_INTERFACES", "127.0.0.1:0", 1);
  // Lives until the process ends: detached download runs may still report to it.
  service = new vn::DownloadService();
  service->Start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto answer = CheckedAnswer(vn::fuzz::AsText(data, size));
  if (answer["ok"] == true && answer.contains("id") && answer["id"].is_string()) {
    CheckedAnswer(nlohmann::json{{"type", "delete_download"}, {"id", answer["id"]},
                                 {"deleteFile", false}}
                      .dump());
  }
  return 0;
}

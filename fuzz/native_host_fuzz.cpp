// Any byte stream as the browser's input to the native host's message loop.
// Property: the loop ends, and what it wrote is a sequence of whole frames,
// each a JSON object.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <nlohmann/json.hpp>

#include "apps/native-host/native_host.h"
#include "apps/protocol/browser_host_names.h"
#include "fuzz/fuzz_environment.h"
#include "platform/locations.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vn::fuzz::MakePrivateRoot();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Every input starts without a registry: otherwise each new browser name a
  // ping leaves makes every later input read and write a longer file, and an
  // input's outcome depends on the ones before it.
  std::error_code ignored;
  std::filesystem::remove(vn::platform::ResolveHandshakeFolder() / vn::kHandshakeFileName, ignored);
  // fmemopen cannot open an empty buffer; an empty input is the same stream.
  static const std::uint8_t kNothing = 0;
  std::FILE* input = fmemopen(const_cast<std::uint8_t*>(size == 0 ? &kNothing : data),
                              size == 0 ? 1 : size, "rb");
  if (size == 0) std::fgetc(input);
  char* written = nullptr;
  std::size_t writtenSize = 0;
  std::FILE* output = open_memstream(&written, &writtenSize);
  if (input == nullptr || output == nullptr) vn::fuzz::Fail("cannot open memory streams");

  if (vn::RunHost(input, output) != 0) vn::fuzz::Fail("exit code is not 0");
  std::fclose(input);
  std::fclose(output);

  const std::string replies(written, writtenSize);
  std::free(written);
  std::size_t at = 0;
  while (at < replies.size()) {
    std::uint32_t length = 0;
    if (replies.size() - at < sizeof length) vn::fuzz::Fail("reply length cut short");
    std::memcpy(&length, replies.data() + at, sizeof length);
    at += sizeof length;
    if (replies.size() - at < length) vn::fuzz::Fail("reply body cut short");
    const auto reply = nlohmann::json::parse(replies.substr(at, length), nullptr, false);
    if (!reply.is_object()) vn::fuzz::Fail("reply is not a JSON object");
    at += length;
  }
  return 0;
}

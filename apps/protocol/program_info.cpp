#include "apps/protocol/program_info.h"

#include <string_view>

namespace vn {

const char* ProgramVersion() { return VARNEL_VERSION; }

InformationRequest ReadInformationRequest(int argc, const char* const argv[]) {
  if (argc != 2) return InformationRequest::kNone;
  const std::string_view argument = argv[1];
  if (argument == "--help") return InformationRequest::kHelp;
  if (argument == "--version") return InformationRequest::kVersion;
  return InformationRequest::kNone;
}

}  // namespace vn

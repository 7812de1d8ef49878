#include "apps/protocol/program_info.h"

#include <iostream>
#include <string_view>

namespace vn {

const char* ProgramVersion() { return VARNEL_VERSION; }

bool AnswerInformationRequest(int argc, const char* const argv[], const char* program,
                              const std::function<std::string()>& usage) {
  if (argc != 2) return false;
  const std::string_view argument = argv[1];
  if (argument == "--help") {
    std::cout << usage();
  } else if (argument == "--version") {
    std::cout << "Varnel " << program << " " << ProgramVersion() << "\n";
  } else {
    return false;
  }
  std::cout.flush();
  return true;
}

}  // namespace vn

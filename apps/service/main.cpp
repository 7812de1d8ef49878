// The service's entry point: run until SIGTERM or SIGINT (on Windows also a
// client's stop request), then shut down in order. Detached download runs may
// still be working when the service object is gone, so the process ends
// without running static destructors under them.
// `service --help` and `service --version` answer and exit without starting.
#include <exception>
#include <iostream>

#include "apps/protocol/program_info.h"
#include "apps/service/core/download_service.h"
#include "apps/service/service_usage.h"
#include "platform/http.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  if (vn::AnswerInformationRequest(argc, argv, "service", vn::ServiceUsage)) return 0;
  vn::platform::KeepAllocatorPoolsSmall();
  vn::platform::InitializeProcess();
  vn::platform::InitializeHttp();
  int code = 0;
  try {
    vn::platform::AcceptStopRequests();
    vn::DownloadService service;
    service.Run();
  } catch (const std::exception& error) {
    std::cerr << "Service failed: " << error.what() << std::endl;
    code = 1;
  }
  vn::platform::ExitProcessNow(code);
}

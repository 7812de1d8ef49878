// The service's entry point: run until SIGTERM or SIGINT, then shut down in
// order. Detached download runs may still be working when the service object is
// gone, so the process ends without running static destructors under them.
#include <exception>
#include <iostream>

#include "apps/service/core/download_service.h"
#include "platform/http.h"
#include "platform/process.h"

int main() {
  vn::platform::KeepAllocatorPoolsSmall();
  vn::platform::InitializeProcess();
  vn::platform::InitializeHttp();
  int code = 0;
  try {
    vn::DownloadService service;
    service.Run();
  } catch (const std::exception& error) {
    std::cerr << "Service failed: " << error.what() << std::endl;
    code = 1;
  }
  vn::platform::ExitProcessNow(code);
}

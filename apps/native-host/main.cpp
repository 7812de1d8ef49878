// native-host: started by the browser for the native-messaging host
// "com.varnel.v2". Command-line arguments (the browser passes its origin) are
// ignored.
#include "apps/native-host/native_host.h"
#include "platform/process.h"

int main() {
  vn::platform::InitializeProcess();
  return vn::RunHost();
}

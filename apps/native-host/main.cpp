// native-host: started by the browser for the native-messaging host
// "com.varnel.v2". Command-line arguments (the browser passes its origin) are
// ignored.
#include "apps/native-host/native_host.h"
#include "platform/process.h"

int main() {
  vn::platform::InitializeProcess();
  // Length-prefixed messages: no byte may be translated on the way.
  vn::platform::UseBinaryStandardStreams();
  return vn::RunHost();
}

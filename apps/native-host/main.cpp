// native-host: started by the browser for the native-messaging host
// "com.varnel.v2". The arguments a browser passes (the caller's origin, a
// manifest path, --parent-window=N) are ignored; only a sole "--help" or
// "--version" is answered, for a person at a terminal.
#include "apps/native-host/host_usage.h"
#include "apps/native-host/native_host.h"
#include "apps/protocol/program_info.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  if (vn::AnswerInformationRequest(argc, argv, "native-host", vn::HostUsage)) return 0;
  vn::platform::InitializeProcess();
  // Length-prefixed messages: no byte may be translated on the way.
  vn::platform::UseBinaryStandardStreams();
  return vn::RunHost();
}

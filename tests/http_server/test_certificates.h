#pragma once

// A throw-away certificate authority and a certificate for 127.0.0.1 signed
// by it, made fresh for a test: only a client told to trust this CA file
// accepts the loopback TLS server.

#include <filesystem>

#include "tests/http_server/http_test_server.h"

namespace vn::test {

struct TestCertificates {
  std::filesystem::path caFile;  // PEM certificate of the CA
  TlsIdentity server;            // certificate for IP 127.0.0.1 and its key
};

// Writes "ca.pem", "server.pem" and "server-key.pem" into folder (which must
// exist). Throws std::runtime_error when OpenSSL fails.
TestCertificates WriteTestCertificates(const std::filesystem::path& folder);

}  // namespace vn::test

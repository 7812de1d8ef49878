// Certificates are made with OpenSSL's own API (P-256 keys, SHA-256
// signatures, valid from an hour ago for a day), so no tool has to be found on
// PATH and nothing outside the test's folder is read or written.
#include "tests/http_server/test_certificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace vn::test {
namespace {

struct KeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateDeleter {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
struct ExtensionDeleter {
  void operator()(X509_EXTENSION* extension) const { X509_EXTENSION_free(extension); }
};
struct BioDeleter {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using Certificate = std::unique_ptr<X509, CertificateDeleter>;

void Check(bool ok) {
  if (!ok) throw std::runtime_error("Test certificates: OpenSSL failed");
}

// Signs a certificate for key with issuerKey; issuer null makes it self-signed.
Certificate MakeCertificate(const char* commonName, EVP_PKEY* key, X509* issuer,
                            EVP_PKEY* issuerKey, long serial,
                            std::initializer_list<std::pair<int, const char*>> extensions) {
  Certificate certificate(X509_new());
  Check(certificate != nullptr);
  X509* cert = certificate.get();
  Check(X509_set_version(cert, 2) == 1);
  Check(ASN1_INTEGER_set(X509_get_serialNumber(cert), serial) == 1);
  Check(X509_gmtime_adj(X509_getm_notBefore(cert), -3600) != nullptr);
  Check(X509_gmtime_adj(X509_getm_notAfter(cert), 86400) != nullptr);
  Check(X509_set_pubkey(cert, key) == 1);
  X509_NAME* name = X509_get_subject_name(cert);
  Check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>(commonName), -1, -1,
                                   0) == 1);
  Check(X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer) : name) == 1);
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer ? issuer : cert, cert, nullptr, nullptr, 0);
  for (const auto& [nid, value] : extensions) {
    std::unique_ptr<X509_EXTENSION, ExtensionDeleter> extension(
        X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    Check(extension && X509_add_ext(cert, extension.get(), -1) == 1);
  }
  Check(X509_sign(cert, issuerKey, EVP_sha256()) > 0);
  return certificate;
}

void WritePem(const std::filesystem::path& path, X509* certificate, EVP_PKEY* key) {
  std::unique_ptr<BIO, BioDeleter> file(BIO_new_file(path.c_str(), "w"));
  Check(file != nullptr);
  if (certificate) Check(PEM_write_bio_X509(file.get(), certificate) == 1);
  if (key) {
    Check(PEM_write_bio_PrivateKey(file.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1);
  }
}

}  // namespace

TestCertificates WriteTestCertificates(const std::filesystem::path& folder) {
  const Key caKey(EVP_EC_gen("P-256"));
  const Key serverKey(EVP_EC_gen("P-256"));
  Check(caKey && serverKey);
  const Certificate ca =
      MakeCertificate("Varnel test CA", caKey.get(), nullptr, caKey.get(), 1,
                      {{NID_basic_constraints, "critical,CA:TRUE"},
                       {NID_key_usage, "critical,keyCertSign,cRLSign"},
                       {NID_subject_key_identifier, "hash"}});
  const Certificate server =
      MakeCertificate("127.0.0.1", serverKey.get(), ca.get(), caKey.get(), 2,
                      {{NID_basic_constraints, "critical,CA:FALSE"},
                       {NID_key_usage, "critical,digitalSignature"},
                       {NID_ext_key_usage, "serverAuth"},
                       {NID_subject_alt_name, "IP:127.0.0.1"},
                       {NID_authority_key_identifier, "keyid:always"}});

  TestCertificates files{folder / "ca.pem",
                         {(folder / "server.pem").string(), (folder / "server-key.pem").string()}};
  WritePem(files.caFile, ca.get(), nullptr);
  WritePem(files.server.certificateFile, server.get(), nullptr);
  WritePem(files.server.keyFile, nullptr, serverKey.get());
  return files;
}

}  // namespace vn::test

#include "tests/support/test_certificates.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace mirava::testing {

namespace {

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree {
  void operator()(X509* cert) const { X509_free(cert); }
};
struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using CertPtr = std::unique_ptr<X509, CertFree>;

void Check(bool ok, const char* what) {
  if (!ok) {
    throw std::runtime_error(std::string("test certificates: ") + what);
  }
}

KeyPtr NewKey() {
  // P-256 keys are made in microseconds, unlike RSA.
  KeyPtr key(EVP_EC_gen("P-256"));
  Check(key != nullptr, "key generation");
  return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  Check(extension != nullptr, "extension");
  X509_add_ext(cert, extension, -1);
  X509_EXTENSION_free(extension);
}

CertPtr NewCert(EVP_PKEY* key, const char* common_name, long serial) {
  CertPtr cert(X509_new());
  Check(cert != nullptr, "certificate");
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -24 * 3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 365L * 24 * 3600);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(common_name), -1, -1, 0);
  return cert;
}

std::string ToPem(X509* cert) {
  std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
  Check(PEM_write_bio_X509(bio.get(), cert) == 1, "PEM");
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

std::string ToPem(EVP_PKEY* key) {
  std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
  Check(PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1,
        "PEM");
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

std::string WriteTempFile(const std::string& text) {
  const char* folder = std::getenv("TMPDIR");
  std::string path = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") +
                     "/mirava-test-ca-XXXXXX";
  const int fd = mkstemp(path.data());
  Check(fd >= 0, "temporary file");
  const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  Check(written, "temporary file");
  return path;
}

TestCertificates Make(const char* authority_name) {
  KeyPtr ca_key = NewKey();
  CertPtr ca = NewCert(ca_key.get(), authority_name, 1);
  X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get()));
  AddExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE");
  AddExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
  AddExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash");
  Check(X509_sign(ca.get(), ca_key.get(), EVP_sha256()) > 0, "signing the authority");

  KeyPtr server_key = NewKey();
  CertPtr server = NewCert(server_key.get(), "127.0.0.1", 2);
  X509_set_issuer_name(server.get(), X509_get_subject_name(ca.get()));
  AddExtension(server.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE");
  AddExtension(server.get(), ca.get(), NID_key_usage, "critical,digitalSignature");
  AddExtension(server.get(), ca.get(), NID_ext_key_usage, "serverAuth");
  AddExtension(server.get(), ca.get(), NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
  AddExtension(server.get(), ca.get(), NID_authority_key_identifier, "keyid");
  Check(X509_sign(server.get(), ca_key.get(), EVP_sha256()) > 0, "signing the server");

  TestCertificates made;
  made.CaPem = ToPem(ca.get());
  made.ServerCertPem = ToPem(server.get());
  made.ServerKeyPem = ToPem(server_key.get());
  made.CaFile = WriteTempFile(made.CaPem);
  return made;
}

// Removes the temporary CA file when the test process ends.
struct Owned {
  explicit Owned(const char* name) : certificates(Make(name)) {}
  ~Owned() { std::remove(certificates.CaFile.c_str()); }
  TestCertificates certificates;
};

}  // namespace

const TestCertificates& TestCertificates::Shared() {
  static const Owned owned("Mirava Test CA");
  return owned.certificates;
}

const TestCertificates& TestCertificates::Other() {
  static const Owned owned("Unrelated Test CA");
  return owned.certificates;
}

}  // namespace mirava::testing

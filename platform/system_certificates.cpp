#include "platform/system_certificates.h"

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cstdlib>

namespace mirava::platform {

namespace {

constexpr const char* kDebianCaBundle = "/etc/ssl/certs/ca-certificates.crt";

}  // namespace

bool LoadPemFile(X509_STORE* store, const std::string& path) {
  if (path.empty()) {
    return false;
  }
  X509_LOOKUP* lookup = X509_STORE_add_lookup(store, X509_LOOKUP_file());
  // Returns the number of certificates read, 0 when the file is missing or holds none.
  return lookup != nullptr && X509_LOOKUP_load_file(lookup, path.c_str(), X509_FILETYPE_PEM) > 0;
}

void LoadSystemCertificates(X509_STORE* store) {
  const char* from_environment = std::getenv(X509_get_default_cert_file_env());
  const bool loaded = (from_environment != nullptr && LoadPemFile(store, from_environment)) ||
                      LoadPemFile(store, kDebianCaBundle) ||
                      LoadPemFile(store, X509_get_default_cert_file());
  if (!loaded) {
    // Let OpenSSL look in its own places; a handshake that still finds no issuer fails with
    // a verification error of its own.
    X509_STORE_set_default_paths(store);
  }
}

}  // namespace mirava::platform

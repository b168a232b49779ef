#include <windows.h>
// wincrypt.h needs windows.h first.
#include <wincrypt.h>

// wincrypt.h names macros after OpenSSL's types.
#undef X509_NAME
#undef X509_EXTENSIONS
#undef PKCS7_SIGNER_INFO
#undef OCSP_REQUEST
#undef OCSP_RESPONSE

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cstdlib>

#include "platform/system_certificates.h"
#include "platform/windows_text.h"

namespace mirava::platform {

bool LoadPemFile(X509_STORE* store, const std::string& path) {
  if (path.empty()) {
    return false;
  }
  X509_LOOKUP* lookup = X509_STORE_add_lookup(store, X509_LOOKUP_file());
  // OpenSSL opens the file by a UTF-8 name on Windows.
  return lookup != nullptr && X509_LOOKUP_load_file(lookup, path.c_str(), X509_FILETYPE_PEM) > 0;
}

// The statically linked OpenSSL knows no folder of the system's authorities; they live in the
// "ROOT" certificate store.
void LoadSystemCertificates(X509_STORE* store) {
  const char* from_environment = std::getenv(X509_get_default_cert_file_env());
  if (from_environment != nullptr && LoadPemFile(store, from_environment)) {
    return;
  }
  const HCERTSTORE system_store = CertOpenSystemStoreW(0, L"ROOT");
  if (system_store == nullptr) {
    return;
  }
  const CERT_CONTEXT* context = nullptr;
  while ((context = CertEnumCertificatesInStore(system_store, context)) != nullptr) {
    const unsigned char* der = context->pbCertEncoded;
    X509* certificate = d2i_X509(nullptr, &der, static_cast<long>(context->cbCertEncoded));
    if (certificate != nullptr) {
      X509_STORE_add_cert(store, certificate);  // a duplicate is refused, harmlessly
      X509_free(certificate);
    }
  }
  CertCloseStore(system_store, 0);
}

}  // namespace mirava::platform

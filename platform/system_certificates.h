#pragma once
// The certificate authorities the system trusts, put into one OpenSSL store.
#include <string>

struct x509_store_st;  // OpenSSL's X509_STORE

namespace mirava::platform {

// The PEM certificates of `path` added to `store`; false when there is no such file or it holds
// none.
bool LoadPemFile(x509_store_st* store, const std::string& path);

// Adds the system's trusted authorities to `store`. A file named by SSL_CERT_FILE comes first
// (tests point it at their own authority). Otherwise: Debian's bundle or OpenSSL's own places;
// Windows: the "ROOT" system store. A handshake that still finds no issuer fails with a
// verification error of its own.
void LoadSystemCertificates(x509_store_st* store);

}  // namespace mirava::platform

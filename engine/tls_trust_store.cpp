#include "engine/tls_trust_store.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <mutex>
#include <stdexcept>

#include "platform/system_certificates.h"

namespace mirava::engine {

namespace {

X509_STORE* NewStoreWithFlags() {
  X509_STORE* store = X509_STORE_new();
  if (store == nullptr) {
    throw std::runtime_error("Не удалось создать хранилище сертификатов");
  }
  // The flags libcurl would otherwise set on every handshake, from every thread, on this
  // shared store: set once here while nobody else sees it.
  X509_STORE_set_flags(store, X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
  return store;
}

}  // namespace

TlsTrustStore::TlsTrustStore(x509_store_st* store) : store_(store) {}

TlsTrustStore::~TlsTrustStore() {
  X509_STORE_free(store_);
}

std::shared_ptr<const TlsTrustStore> TlsTrustStore::FromFile(const std::string& ca_file) {
  X509_STORE* store = NewStoreWithFlags();
  if (!platform::LoadPemFile(store, ca_file)) {
    X509_STORE_free(store);
    throw std::runtime_error("Не удалось загрузить сертификаты из файла " + ca_file);
  }
  return std::shared_ptr<const TlsTrustStore>(new TlsTrustStore(store));
}

std::shared_ptr<const TlsTrustStore> TlsTrustStore::System() {
  static std::once_flag once;
  static std::shared_ptr<const TlsTrustStore> system;
  std::call_once(once, [] {
    X509_STORE* store = NewStoreWithFlags();
    platform::LoadSystemCertificates(store);
    system.reset(new TlsTrustStore(store));
  });
  return system;
}

void TlsTrustStore::InstallInto(ssl_ctx_st* context) const {
  // The context takes a reference of its own and frees it with the context.
  X509_STORE_up_ref(store_);
  SSL_CTX_set_cert_store(context, store_);
}

}  // namespace mirava::engine

#pragma once
// A read-only certificate store built once and shared by every handshake of every HTTP client,
// so a thousand workers do not each parse the CA bundle.
#include <memory>
#include <string>

struct x509_store_st;  // OpenSSL's X509_STORE
struct ssl_ctx_st;     // OpenSSL's SSL_CTX

namespace mirava::engine {

class TlsTrustStore {
 public:
  // The CA certificates of a PEM file; throws std::runtime_error when none can be read.
  static std::shared_ptr<const TlsTrustStore> FromFile(const std::string& ca_file);
  // The system's CA bundle, built on first use and kept for the process.
  static std::shared_ptr<const TlsTrustStore> System();

  ~TlsTrustStore();
  TlsTrustStore(const TlsTrustStore&) = delete;
  TlsTrustStore& operator=(const TlsTrustStore&) = delete;

  x509_store_st* Store() const { return store_; }

  // Makes `context` verify against this store; the context holds a reference of its own.
  void InstallInto(ssl_ctx_st* context) const;

 private:
  explicit TlsTrustStore(x509_store_st* store);
  x509_store_st* store_;
};

}  // namespace mirava::engine

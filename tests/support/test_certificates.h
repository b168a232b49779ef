#pragma once
// A certificate authority and a server certificate for 127.0.0.1 and localhost, made at run time
// so no private key lives in the repository.
#include <string>

namespace mirava::testing {

struct TestCertificates {
  std::string CaPem;
  std::string ServerCertPem;  // signed by the CA, names 127.0.0.1 and localhost
  std::string ServerKeyPem;
  std::string CaFile;  // CaPem written to a temporary file, for TlsTrustStore::FromFile

  // Made once per test process; throws std::runtime_error when OpenSSL refuses.
  static const TestCertificates& Shared();
  // A second, unrelated authority: a client that trusts only it must reject the server.
  static const TestCertificates& Other();
};

}  // namespace mirava::testing

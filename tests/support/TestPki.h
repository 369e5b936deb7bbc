// Certificates made at run time for TLS tests, and the loopback servers under
// the tests' namespace.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "tools/loopback/LoopbackServer.h"

namespace vizadavu::test {

using loopback::Connection;
using loopback::Handler;
using loopback::LoopbackServer;
using loopback::ReceivedRequest;
using loopback::TlsIdentity;

// Certificates made at run time for TLS tests (EC P-256 keys, SHA-256).
struct Pem {
  std::string certificate;
  std::string privateKey;
  TlsIdentity Identity() const { return {certificate, privateKey}; }
};

class TestPki {
 public:
  TestPki();  // creates a fresh CA, valid from a day ago for a year
  // A fresh CA valid from now+notBefore to now+notAfter.
  TestPki(std::chrono::seconds notBefore, std::chrono::seconds notAfter);
  ~TestPki();
  const std::string& CaCertificatePem() const;
  // Writes the CA certificate to a new temporary file and returns its path
  // (for SSL_CERT_FILE); the file is removed in the destructor. The file is
  // written on the first call; later calls return the same path.
  const std::string& CaFile();

  // A leaf for `dnsOrIp` (SAN is IP:... when it parses as an IP address, DNS:...
  // otherwise), signed by this CA, valid from now+notBefore to now+notAfter.
  Pem Issue(const std::string& dnsOrIp, std::chrono::seconds notBefore = -std::chrono::hours(24),
            std::chrono::seconds notAfter = std::chrono::hours(24 * 30)) const;
  // A leaf for `dnsOrIp`, valid now, signed by a new intermediate CA that this CA
  // signed and that is valid from now+notBefore to now+notAfter. The certificate
  // PEM holds the leaf, then the intermediate.
  Pem IssueViaIntermediate(const std::string& dnsOrIp, std::chrono::seconds notBefore,
                           std::chrono::seconds notAfter) const;
  // A self-signed certificate for `dnsOrIp`, valid now.
  static Pem SelfSigned(const std::string& dnsOrIp);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace vizadavu::test

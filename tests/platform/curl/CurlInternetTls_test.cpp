// The libcurl internet boundary over TLS: what it verifies, what it refuses and
// what it takes from the environment.
#include "tests/platform/curl/CurlInternetFixture.h"

#include <fcntl.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/curl/Proxy.h"
#include "tests/support/Loopback.h"
#include "tests/support/TestPki.h"
#include "tests/support/TlsFaults.h"

namespace vizadavu::platform {
namespace {

class CurlInternetTls : public CurlInternetTest {
 protected:
  // Sends a GET over TLS to a server using `identity`; the error, or 0 with the body read.
  std::uint32_t Fetch(const test::TlsIdentity& identity, std::uint32_t flags = kTlsFlags,
                      std::string_view host = "127.0.0.1") {
    LoopbackServer server(LoopbackServer::Respond(200, "secret"), identity);
    const Handle request = Open(server.Port(), "GET", "/", flags, host);
    std::uint32_t error = 0;
    if (!net_.SendRequest(request, std::nullopt)) {
      error = static_cast<std::uint32_t>(net_.LastError());
    } else {
      EXPECT_EQ(ReadAll(request), "secret");
    }
    net_.CloseHandle(session_);
    session_ = kNullHandle;
    return error;
  }
  std::uint32_t Fetch(const test::Pem& identity, std::uint32_t flags = kTlsFlags,
                      std::string_view host = "127.0.0.1") {
    return Fetch(identity.Identity(), flags, host);
  }

  TestPki pki_;
  ScopedEnv trust_{"SSL_CERT_FILE", pki_.CaFile().c_str()};
};

TEST_F(CurlInternetTls, EachCertificateProblemHasItsCode) {
  EXPECT_EQ(Fetch(pki_.Issue("127.0.0.1")), 0u);
  EXPECT_EQ(Fetch(pki_.IssueViaIntermediate("127.0.0.1", -1h, 24h)), 0u);
  // The dates of an issuer are never forgiven.
  EXPECT_EQ(Fetch(pki_.IssueViaIntermediate("127.0.0.1", 24h, 48h)), 12169u);
  // Without the ignore flags, the server certificate's dates and name are checked too.
  EXPECT_EQ(Fetch(pki_.Issue("localhost"), kTlsStrictFlags, "localhost"), 0u);
  EXPECT_EQ(Fetch(pki_.Issue("127.0.0.2"), kTlsStrictFlags), 12038u);
  EXPECT_EQ(Fetch(pki_.Issue("localhost.example"), kTlsStrictFlags, "localhost"), 12038u);
  EXPECT_EQ(Fetch(pki_.IssueViaIntermediate("127.0.0.1", -48h, -24h), kTlsStrictFlags), 12169u);
  // A server that demands a client certificate: the handshake fails (1.2) or the first read (1.3).
  for (const int version : {TLS1_2_VERSION, TLS1_3_VERSION}) {
    test::TlsIdentity demanding = pki_.Issue("127.0.0.1").Identity();
    demanding.maxVersion = version;
    demanding.requireClientCertificate = true;
    EXPECT_EQ(Fetch(demanding), 12044u) << version;
  }
}

TEST_F(CurlInternetTls, RefusesProtocolsBeforeTls12) {
  for (const int version : {TLS1_VERSION, TLS1_1_VERSION}) {
    SCOPED_TRACE(version);
    test::Pem old = pki_.Issue("127.0.0.1");
    test::TlsIdentity identity = old.Identity();
    identity.maxVersion = version;
    identity.securityLevel = 0;  // lets OpenSSL 3 offer TLS 1.0 and 1.1 at all
    LoopbackServer server(LoopbackServer::Respond(200, "secret"), identity);
    const Handle request = Open(server.Port(), "GET", "/", kTlsFlags);
    EXPECT_FALSE(net_.SendRequest(request, std::nullopt));
    EXPECT_EQ(net_.LastError(), 12157u);
    EXPECT_TRUE(server.Requests().empty());
    net_.CloseHandle(session_);
    session_ = kNullHandle;
  }
}

TEST_F(CurlInternetTls, ForgedServerSignatureIsACertificateFailure) {
  test::TlsIdentity identity = pki_.Issue("127.0.0.1").Identity();
  identity.maxVersion = TLS1_2_VERSION;  // the key exchange signature travels in the clear
  LoopbackServer server(LoopbackServer::Respond(200, "secret"), identity);
  LoopbackServer forger(test::CorruptingRelay(server.Port()));
  const Handle request = Open(forger.Port(), "GET", "/", kTlsFlags);
  EXPECT_FALSE(net_.SendRequest(request, std::nullopt));
  EXPECT_EQ(net_.LastError(), 12169u);
  EXPECT_TRUE(server.Requests().empty());
}

// Run by ctest with SSLKEYLOGFILE set before libcurl starts, and with an OpenSSL
// configuration that allows TLS 1.0 (tests/support/legacy-openssl.cnf).
TEST_F(CurlInternetTls, WritesNoKeyLogWhateverTheEnvironment) {
  const char* keyLog = std::getenv("SSLKEYLOGFILE");
  if (keyLog == nullptr)
    GTEST_SKIP() << "needs SSLKEYLOGFILE from the start (ctest tls_environment)";
  EXPECT_EQ(Fetch(pki_.Issue("127.0.0.1")), 0u);
  std::error_code absent;
  EXPECT_EQ(std::filesystem::file_size(keyLog, absent), absent ? std::uintmax_t(-1) : 0u);
}

// SSL_CERT_DIR replaces the CA directory: a hashed copy of the CA there is trusted.
TEST_F(CurlInternetTls, TrustsACaDirectoryFromTheEnvironment) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("vizadavu-ca-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  FILE* pem = std::fopen(pki_.CaFile().c_str(), "r");
  ASSERT_NE(pem, nullptr);
  X509* ca = PEM_read_X509(pem, nullptr, nullptr, nullptr);
  std::fclose(pem);
  ASSERT_NE(ca, nullptr);
  char name[32];
  std::snprintf(name, sizeof name, "%08lx.0", X509_subject_name_hash(ca));
  X509_free(ca);
  std::filesystem::copy_file(pki_.CaFile(), dir / name);
  {
    ScopedEnv noFile("SSL_CERT_FILE", "");
    EXPECT_EQ(Fetch(pki_.Issue("127.0.0.1"), kTlsStrictFlags), 12045u);
    ScopedEnv trustDir("SSL_CERT_DIR", dir.c_str());
    EXPECT_EQ(Fetch(pki_.Issue("127.0.0.1"), kTlsStrictFlags), 0u);
  }
  std::filesystem::remove_all(dir);
}

TEST_F(CurlInternetTls, PlainServerIsASecureChannelError) {
  LoopbackServer plain(LoopbackServer::Reply("HTTP/1.0 200 OK\r\n\r\n"));
  const Handle request = Open(plain.Port(), "GET", "/", kTlsFlags);
  EXPECT_FALSE(net_.SendRequest(request, std::nullopt));
  EXPECT_EQ(net_.LastError(), 12157u);
}

}  // namespace
}  // namespace vizadavu::platform

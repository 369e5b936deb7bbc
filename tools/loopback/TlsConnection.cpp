// TLS for the loopback servers: the server context built from a PEM identity, a
// socket BIO that never raises SIGPIPE, and connections that speak TLS over it.
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>

#include "tools/loopback/SocketConnection.h"

namespace vizadavu::loopback {
namespace {

using namespace std::chrono_literals;

constexpr auto kHandshakeTimeout = 10s;
constexpr auto kCloseNotifyTimeout = 1s;

std::string OpenSslError() {
  std::string text;
  while (unsigned long e = ERR_get_error()) {
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    if (!text.empty()) text += "; ";
    text += buf;
  }
  return text.empty() ? "unknown OpenSSL error" : text;
}

// A socket BIO for OpenSSL that sends with MSG_NOSIGNAL (the stock one uses write()).
// The descriptor lives in the BIO's data pointer and is not owned by the BIO.
int SocketOf(BIO* bio) {
  return static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
}

int BioWrite(BIO* bio, const char* data, int length) {
  BIO_clear_retry_flags(bio);
  ssize_t n = ::send(SocketOf(bio), data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
  if (n < 0 && IsRetryable(errno)) BIO_set_retry_write(bio);
  return static_cast<int>(n);
}

int BioRead(BIO* bio, char* data, int length) {
  BIO_clear_retry_flags(bio);
  ssize_t n = ::recv(SocketOf(bio), data, static_cast<std::size_t>(length), 0);
  if (n < 0 && IsRetryable(errno)) BIO_set_retry_read(bio);
  return static_cast<int>(n);
}

long BioCtrl(BIO*, int command, long, void*) {
  return command == BIO_CTRL_FLUSH ? 1 : 0;
}

BIO_METHOD* NoSigPipeSocketMethod() {
  static BIO_METHOD* const method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "loopback socket");
    if (m == nullptr || !BIO_meth_set_write(m, BioWrite) || !BIO_meth_set_read(m, BioRead) ||
        !BIO_meth_set_ctrl(m, BioCtrl)) {
      throw std::runtime_error("LoopbackServer: cannot create BIO method: " + OpenSslError());
    }
    return m;
  }();
  return method;
}

class TlsConnection final : public SocketConnection {
 public:
  TlsConnection(const ServerSide& server, Worker& worker, SSL_CTX* ctx)
      : SocketConnection(server, worker), ssl_(SSL_new(ctx)) {
    BIO* bio = BIO_new(NoSigPipeSocketMethod());
    if (!ssl_ || bio == nullptr) {
      BIO_free(bio);
      throw std::runtime_error("LoopbackServer: cannot create TLS session: " + OpenSslError());
    }
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(Fd())));
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl_.get(), bio, bio);
    SSL_set_accept_state(ssl_.get());
    SSL_set_mode(ssl_.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  }

  bool Handshake() {
    const auto deadline = SteadyClock::now() + kHandshakeTimeout;
    for (;;) {
      ERR_clear_error();
      int r = SSL_accept(ssl_.get());
      if (r == 1) {
        handshakeDone_ = true;
        return true;
      }
      if (!AwaitRetry(SSL_get_error(ssl_.get(), r), deadline)) return false;
    }
  }

 protected:
  ssize_t Receive(char* buffer, std::size_t length, SteadyClock::time_point deadline) override {
    for (;;) {
      ERR_clear_error();
      std::size_t got = 0;
      if (SSL_read_ex(ssl_.get(), buffer, length, &got)) return static_cast<ssize_t>(got);
      int error = SSL_get_error(ssl_.get(), 0);
      if (error == SSL_ERROR_ZERO_RETURN) return 0;
      if (!AwaitRetry(error, deadline)) return fatal_ ? 0 : -1;
    }
  }

  bool Send(std::string_view bytes, SteadyClock::time_point deadline) override {
    while (!bytes.empty()) {
      ERR_clear_error();
      std::size_t written = 0;
      if (SSL_write_ex(ssl_.get(), bytes.data(), bytes.size(), &written)) {
        bytes.remove_prefix(written);
      } else if (!AwaitRetry(SSL_get_error(ssl_.get(), 0), deadline)) {
        return false;
      }
    }
    return true;
  }

  void SendCloseNotify() override {
    // OpenSSL forbids SSL_shutdown after a fatal error, and it means nothing mid-handshake.
    if (fatal_ || !handshakeDone_) return;
    const auto deadline = SteadyClock::now() + kCloseNotifyTimeout;
    for (;;) {
      ERR_clear_error();
      int r = SSL_shutdown(ssl_.get());
      if (r >= 0 || !AwaitRetry(SSL_get_error(ssl_.get(), r), deadline)) return;
    }
  }

 private:
  // Waits as the TLS layer asks; false (and fatal_ for real errors) when it cannot go on.
  bool AwaitRetry(int error, SteadyClock::time_point deadline) {
    if (error == SSL_ERROR_WANT_READ) return Wait(POLLIN, deadline);
    if (error == SSL_ERROR_WANT_WRITE) return Wait(POLLOUT, deadline);
    fatal_ = true;
    ERR_clear_error();
    return false;
  }

  struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
  };
  std::unique_ptr<SSL, SslFree> ssl_;
  bool fatal_ = false;
  bool handshakeDone_ = false;
};

}  // namespace

std::unique_ptr<SocketConnection> AcceptTls(const ServerSide& server, Worker& worker,
                                            SSL_CTX* context) {
  auto session = std::make_unique<TlsConnection>(server, worker, context);
  if (session->Handshake()) return session;
  server.handshakeFailed();
  session->Close();  // FIN (no close_notify), so the client can still read our alert
  return nullptr;
}

ServerContext MakeServerContext(const TlsIdentity& identity) {
  auto fail = [](const std::string& what) {
    throw std::invalid_argument("LoopbackServer: " + what + ": " + OpenSslError());
  };
  ServerContext ctx(SSL_CTX_new(TLS_server_method()));
  if (!ctx) fail("SSL_CTX_new failed");

  std::unique_ptr<BIO, decltype(&BIO_free)> certs(
      BIO_new_mem_buf(identity.certificatePem.data(),
                      static_cast<int>(identity.certificatePem.size())),
      BIO_free);
  X509* leaf = certs ? PEM_read_bio_X509(certs.get(), nullptr, nullptr, nullptr) : nullptr;
  if (leaf == nullptr) fail("no certificate in the TLS identity");
  int used = SSL_CTX_use_certificate(ctx.get(), leaf);
  X509_free(leaf);
  if (used != 1) fail("unusable certificate");
  while (X509* intermediate = PEM_read_bio_X509(certs.get(), nullptr, nullptr, nullptr)) {
    if (SSL_CTX_add0_chain_cert(ctx.get(), intermediate) != 1) {
      X509_free(intermediate);
      fail("unusable intermediate certificate");
    }
  }
  ERR_clear_error();  // the loop above ends on a "no start line" error

  std::unique_ptr<BIO, decltype(&BIO_free)> keyBio(
      BIO_new_mem_buf(identity.privateKeyPem.data(),
                      static_cast<int>(identity.privateKeyPem.size())),
      BIO_free);
  EVP_PKEY* key =
      keyBio ? PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr) : nullptr;
  if (key == nullptr) fail("no private key in the TLS identity");
  used = SSL_CTX_use_PrivateKey(ctx.get(), key);
  EVP_PKEY_free(key);
  if (used != 1 || SSL_CTX_check_private_key(ctx.get()) != 1) {
    fail("private key does not match the certificate");
  }
  if (identity.requireClientCertificate) {
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
  }
  if (identity.securityLevel >= 0) SSL_CTX_set_security_level(ctx.get(), identity.securityLevel);
  if (identity.maxVersion != 0) {
    if (SSL_CTX_set_max_proto_version(ctx.get(), identity.maxVersion) != 1 ||
        (identity.maxVersion < TLS1_2_VERSION &&
         SSL_CTX_set_min_proto_version(ctx.get(), TLS1_VERSION) != 1)) {
      fail("unusable protocol version");
    }
  }
  return ctx;
}

}  // namespace vizadavu::loopback

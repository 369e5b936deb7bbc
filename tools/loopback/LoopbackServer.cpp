// Loopback HTTP(S) test servers: one accept thread, one thread per connection.
//
// Every socket is non-blocking and every wait is a poll() with a deadline, sliced so
// that a stopping server is noticed within ~100 ms. Writes never raise SIGPIPE: plain
// sockets use send(MSG_NOSIGNAL), and TLS goes through a small BIO that does the same.
#include "tools/loopback/LoopbackServer.h"

#include "vizadavu/vizADAVU.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <list>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace vizadavu::loopback {
namespace {

using SteadyClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t kMaxHeaderBytes = 1 << 20;
constexpr std::size_t kMaxBodyBytes = 256u << 20;
constexpr auto kWriteTimeout = 10s;
constexpr auto kHandshakeTimeout = 10s;
constexpr auto kCloseNotifyTimeout = 1s;
// How long an orderly close keeps reading (and discarding) after sending FIN, so that
// late client bytes do not turn the close into a RST that could destroy our reply.
constexpr auto kLingerTimeout = 2s;

void Diagnose(const std::string& message) {
  std::fprintf(stderr, "LoopbackServer: %s\n", message.c_str());
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

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

bool IsRetryable(int error) {
  return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
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

struct SslCtxFree {
  void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};

std::unique_ptr<SSL_CTX, SslCtxFree> MakeServerContext(const TlsIdentity& identity) {
  auto fail = [](const std::string& what) {
    throw std::invalid_argument("LoopbackServer: " + what + ": " + OpenSslError());
  };
  std::unique_ptr<SSL_CTX, SslCtxFree> ctx(SSL_CTX_new(TLS_server_method()));
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

const char* ReasonPhrase(int status) {
  static const std::pair<int, const char*> kPhrases[] = {
      {100, "Continue"},
      {200, "OK"},
      {201, "Created"},
      {202, "Accepted"},
      {204, "No Content"},
      {301, "Moved Permanently"},
      {302, "Found"},
      {303, "See Other"},
      {304, "Not Modified"},
      {307, "Temporary Redirect"},
      {308, "Permanent Redirect"},
      {400, "Bad Request"},
      {401, "Unauthorized"},
      {403, "Forbidden"},
      {404, "Not Found"},
      {405, "Method Not Allowed"},
      {407, "Proxy Authentication Required"},
      {408, "Request Timeout"},
      {413, "Content Too Large"},
      {500, "Internal Server Error"},
      {501, "Not Implemented"},
      {502, "Bad Gateway"},
      {503, "Service Unavailable"},
      {504, "Gateway Timeout"},
  };
  for (const auto& [code, phrase] : kPhrases) {
    if (code == status) return phrase;
  }
  return "Status";
}

// One accepted socket. `fd` is closed only by the connection's own thread, and only
// while holding `fdMutex`, so the stopping server can shut it down without racing
// against a close (and a reuse of the descriptor number).
struct Worker {
  std::mutex fdMutex;
  int fd = -1;
  std::thread thread;
  std::atomic<bool> finished{false};
};

}  // namespace

struct LoopbackServer::Impl {
  Handler handler;
  std::unique_ptr<SSL_CTX, SslCtxFree> tls;
  int listenFd = -1;
  int wakeFd = -1;
  std::uint16_t port = 0;
  std::atomic<bool> stopping{false};
  std::atomic<int> connections{0};
  std::atomic<int> tlsFailures{0};

  mutable std::mutex mutex;  // guards requests and workers
  std::vector<ReceivedRequest> requests;
  std::list<std::unique_ptr<Worker>> workers;
  std::thread acceptThread;

  ~Impl() {
    if (listenFd >= 0) ::close(listenFd);
    if (wakeFd >= 0) ::close(wakeFd);
  }

  void Record(const ReceivedRequest& request) {
    std::lock_guard lock(mutex);
    requests.push_back(request);
  }

  void AcceptLoop();
  void Serve(Worker& worker);
  void ReapFinished();  // requires mutex
  void Stop();
};

namespace {

class SocketConnection : public Connection {
 public:
  SocketConnection(LoopbackServer::Impl& server, Worker& worker)
      : server_(server), worker_(worker) {}

  bool ReadRequest(ReceivedRequest& out, std::chrono::milliseconds timeout) override;
  bool Write(std::string_view bytes) override {
    return !closed_ && Send(bytes, SteadyClock::now() + kWriteTimeout);
  }
  void Close() override;
  void Reset() override;
  std::string ReadSome(std::size_t max, std::chrono::milliseconds timeout) override;

 protected:
  // Bytes read (> 0), 0 on EOF or error, -1 on time-out or when the server stops.
  virtual ssize_t Receive(char* buffer, std::size_t length, SteadyClock::time_point deadline) = 0;
  virtual bool Send(std::string_view bytes, SteadyClock::time_point deadline) = 0;
  virtual void SendCloseNotify() {}

  int Fd() const { return worker_.fd; }

  // Waits until the socket is ready for `events`; false on time-out or server stop.
  bool Wait(short events, SteadyClock::time_point deadline) const {
    while (!server_.stopping) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
      if (left <= 0ms) return false;
      pollfd p{Fd(), events, 0};
      int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 100)));
      if (r > 0) return true;  // readiness, hang-up or error: the next call reports which
      if (r < 0 && errno != EINTR) return false;
    }
    return false;
  }

  bool closed_ = false;

 private:
  bool Fill(SteadyClock::time_point deadline) {
    char buffer[16384];
    ssize_t n = Receive(buffer, sizeof buffer, deadline);
    if (n <= 0) return false;
    pending_.append(buffer, static_cast<std::size_t>(n));
    return true;
  }
  // Reads one line starting at `pos` (terminated by LF, CR before it stripped).
  bool Line(std::size_t& pos, std::string& line, SteadyClock::time_point deadline);
  void CloseSocket(bool abortive);

  LoopbackServer::Impl& server_;
  Worker& worker_;
  std::string pending_;  // received, not yet consumed by ReadRequest/ReadSome
};

bool SocketConnection::Line(std::size_t& pos, std::string& line, SteadyClock::time_point deadline) {
  std::size_t newline;
  while ((newline = pending_.find('\n', pos)) == std::string::npos) {
    if (pending_.size() - pos > kMaxHeaderBytes) {
      Diagnose("line too long");
      return false;
    }
    if (!Fill(deadline)) return false;
  }
  line.assign(pending_, pos, newline - pos);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  pos = newline + 1;
  return true;
}

bool SocketConnection::ReadRequest(ReceivedRequest& out, std::chrono::milliseconds timeout) {
  if (closed_) return false;
  const auto deadline = SteadyClock::now() + timeout;
  ReceivedRequest request;
  std::size_t pos = 0;
  std::string line;

  if (!Line(pos, line, deadline)) return false;
  std::size_t sp1 = line.find(' ');
  std::size_t sp2 = sp1 == std::string::npos ? sp1 : line.find(' ', sp1 + 1);
  if (sp2 == std::string::npos || line.find(' ', sp2 + 1) != std::string::npos || sp1 == 0 ||
      sp2 == sp1 + 1 || sp2 + 1 == line.size()) {
    Diagnose("malformed request line: " + line);
    return false;
  }
  request.method = line.substr(0, sp1);
  request.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  request.version = line.substr(sp2 + 1);

  for (;;) {
    if (pos > kMaxHeaderBytes) {
      Diagnose("request header too large");
      return false;
    }
    if (!Line(pos, line, deadline)) return false;
    if (line.empty()) break;
    std::size_t colon = line.find(':');
    if (colon == 0 || colon == std::string::npos || line[0] == ' ' || line[0] == '\t' ||
        line[colon - 1] == ' ' || line[colon - 1] == '\t') {
      Diagnose("malformed header line: " + line);
      return false;
    }
    request.headers.emplace_back(line.substr(0, colon),
                                 std::string(Trim(std::string_view(line).substr(colon + 1))));
  }

  std::optional<std::size_t> contentLength;
  bool chunked = false;
  for (const auto& [name, value] : request.headers) {
    if (EqualsIgnoreCase(name, "Transfer-Encoding")) {
      std::string_view codings = value;
      std::size_t comma = codings.rfind(',');
      if (comma != std::string_view::npos) codings.remove_prefix(comma + 1);
      chunked = EqualsIgnoreCase(Trim(codings), "chunked");
      if (!chunked) {
        Diagnose("unsupported Transfer-Encoding: " + value);
        return false;
      }
    } else if (EqualsIgnoreCase(name, "Content-Length")) {
      std::size_t length = 0;
      bool valid = !value.empty();
      for (char c : value) {
        valid = valid && c >= '0' && c <= '9' && length <= kMaxBodyBytes;
        length = length * 10 + static_cast<std::size_t>(c - '0');
      }
      if (!valid || length > kMaxBodyBytes || (contentLength && *contentLength != length)) {
        Diagnose("bad or conflicting Content-Length: " + value);
        return false;
      }
      contentLength = length;
    }
  }

  // Like a real HTTP/1.1 server, invite the body a client holds back for "Expect:
  // 100-continue" (always, so the bytes on the wire do not depend on timing).
  std::optional<std::string> expect = request.Header("Expect");
  if (expect && EqualsIgnoreCase(*expect, "100-continue") && request.version == "HTTP/1.1" &&
      (chunked || contentLength.value_or(0) > 0) &&
      !Send("HTTP/1.1 100 Continue\r\n\r\n", SteadyClock::now() + kWriteTimeout)) {
    return false;
  }

  if (chunked) {  // Transfer-Encoding overrides Content-Length
    for (;;) {
      if (!Line(pos, line, deadline)) return false;
      std::size_t size = 0, digits = 0;
      for (char c : line) {
        int v = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
        if (v < 0) break;
        size = size * 16 + static_cast<std::size_t>(v);
        if (++digits > 8 || request.body.size() + size > kMaxBodyBytes) break;
      }
      if (digits == 0 || digits > 8 || request.body.size() + size > kMaxBodyBytes ||
          (digits < line.size() && line[digits] != ';' && line[digits] != ' ' &&
           line[digits] != '\t')) {
        Diagnose("bad chunk size line: " + line);
        return false;
      }
      if (size == 0) break;
      while (pending_.size() < pos + size) {
        if (!Fill(deadline)) return false;
      }
      request.body.append(pending_, pos, size);
      pos += size;
      if (!Line(pos, line, deadline)) return false;
      if (!line.empty()) {
        Diagnose("chunk data longer than its size");
        return false;
      }
    }
    do {  // trailer section, kept only in raw
      if (!Line(pos, line, deadline)) return false;
    } while (!line.empty());
  } else if (contentLength) {
    while (pending_.size() < pos + *contentLength) {
      if (!Fill(deadline)) return false;
    }
    request.body.assign(pending_, pos, *contentLength);
    pos += *contentLength;
  }

  request.raw.assign(pending_, 0, pos);
  pending_.erase(0, pos);
  server_.Record(request);
  out = std::move(request);
  return true;
}

std::string SocketConnection::ReadSome(std::size_t max, std::chrono::milliseconds timeout) {
  std::string bytes;
  if (max == 0) return bytes;
  if (!pending_.empty()) {
    bytes.assign(pending_, 0, std::min(max, pending_.size()));
    pending_.erase(0, bytes.size());
    return bytes;
  }
  if (closed_) return bytes;
  bytes.resize(std::min<std::size_t>(max, 1 << 16));
  ssize_t n = Receive(bytes.data(), bytes.size(), SteadyClock::now() + timeout);
  bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return bytes;
}

void SocketConnection::Close() {
  if (closed_) return;
  SendCloseNotify();
  ::shutdown(Fd(), SHUT_WR);
  const auto deadline = SteadyClock::now() + kLingerTimeout;
  char sink[4096];
  while (Wait(POLLIN, deadline)) {
    ssize_t n = ::recv(Fd(), sink, sizeof sink, 0);
    if (n == 0 || (n < 0 && !IsRetryable(errno))) break;
  }
  CloseSocket(false);
}

void SocketConnection::Reset() {
  if (closed_) return;
  CloseSocket(true);
}

void SocketConnection::CloseSocket(bool abortive) {
  std::lock_guard lock(worker_.fdMutex);
  if (abortive) {
    linger reset{1, 0};
    ::setsockopt(worker_.fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  }
  ::close(worker_.fd);
  worker_.fd = -1;
  closed_ = true;
}

class PlainConnection final : public SocketConnection {
 public:
  using SocketConnection::SocketConnection;

 protected:
  ssize_t Receive(char* buffer, std::size_t length, SteadyClock::time_point deadline) override {
    for (;;) {
      ssize_t n = ::recv(Fd(), buffer, length, 0);
      if (n >= 0) return n;
      if (!IsRetryable(errno)) return 0;
      if (errno != EINTR && !Wait(POLLIN, deadline)) return -1;
    }
  }

  bool Send(std::string_view bytes, SteadyClock::time_point deadline) override {
    while (!bytes.empty()) {
      ssize_t n = ::send(Fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
      } else if (n < 0 && !IsRetryable(errno)) {
        return false;
      } else if (errno != EINTR && !Wait(POLLOUT, deadline)) {
        return false;
      }
    }
    return true;
  }
};

class TlsConnection final : public SocketConnection {
 public:
  TlsConnection(LoopbackServer::Impl& server, Worker& worker, SSL_CTX* ctx)
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

void LoopbackServer::Impl::AcceptLoop() {
  while (!stopping) {
    pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    int ready = ::poll(fds, 2, 200);
    if (stopping) break;
    if (ready > 0 && (fds[0].revents & POLLIN)) {
      int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd >= 0) {
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ++connections;
        std::lock_guard lock(mutex);
        Worker& worker = *workers.emplace_back(std::make_unique<Worker>());
        worker.fd = fd;
        try {
          worker.thread = std::thread([this, &worker] { Serve(worker); });
        } catch (const std::system_error& e) {
          Diagnose(std::string("cannot start a connection thread: ") + e.what());
          ::close(fd);
          workers.pop_back();
        }
      } else if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        std::this_thread::sleep_for(10ms);
      }
    }
    std::lock_guard lock(mutex);
    ReapFinished();
  }
}

void LoopbackServer::Impl::ReapFinished() {
  for (auto it = workers.begin(); it != workers.end();) {
    if ((*it)->finished) {
      (*it)->thread.join();  // the thread is past its last use of shared state
      it = workers.erase(it);
    } else {
      ++it;
    }
  }
}

void LoopbackServer::Impl::Serve(Worker& worker) {
  try {
    std::unique_ptr<SocketConnection> connection;
    if (tls) {
      auto session = std::make_unique<TlsConnection>(*this, worker, tls.get());
      if (session->Handshake()) {
        connection = std::move(session);
      } else {
        if (!stopping) ++tlsFailures;
        session->Close();  // FIN (no close_notify), so the client can still read our alert
      }
    } else {
      connection = std::make_unique<PlainConnection>(*this, worker);
    }
    if (connection) {
      try {
        handler(*connection);
      } catch (const std::exception& e) {
        Diagnose(std::string("handler threw: ") + e.what());
      } catch (...) {
        Diagnose("handler threw a non-standard exception");
      }
      connection->Close();  // no-op when the handler already closed or reset
    }
  } catch (const std::exception& e) {
    Diagnose(std::string("connection failed: ") + e.what());
    std::lock_guard lock(worker.fdMutex);
    if (worker.fd >= 0) ::close(worker.fd);
    worker.fd = -1;
  }
  worker.finished = true;
}

void LoopbackServer::Impl::Stop() {
  stopping = true;
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t ignored = ::write(wakeFd, &one, sizeof one);
  if (acceptThread.joinable()) acceptThread.join();
  ::close(listenFd);  // new connection attempts are refused from here on
  listenFd = -1;

  std::list<std::unique_ptr<Worker>> remaining;
  {
    std::lock_guard lock(mutex);
    for (auto& worker : workers) {
      std::lock_guard fdLock(worker->fdMutex);
      if (worker->fd >= 0) ::shutdown(worker->fd, SHUT_RDWR);  // wakes blocked reads/writes
    }
    remaining.swap(workers);
  }
  for (auto& worker : remaining) worker->thread.join();
}

std::optional<std::string> ReceivedRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (EqualsIgnoreCase(key, name)) return value;
  }
  return std::nullopt;
}

LoopbackServer::LoopbackServer(Handler handler, std::optional<TlsIdentity> tls)
    : impl_(std::make_unique<Impl>()) {
  if (!handler) throw std::invalid_argument("LoopbackServer: empty handler");
  impl_->handler = std::move(handler);
  if (tls) impl_->tls = MakeServerContext(*tls);

  auto fail = [](const char* what) {
    throw std::system_error(errno, std::system_category(), what);
  };
  impl_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (impl_->wakeFd < 0) fail("LoopbackServer: eventfd");
  impl_->listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (impl_->listenFd < 0) fail("LoopbackServer: socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t size = sizeof address;
  if (::bind(impl_->listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    fail("LoopbackServer: bind");
  }
  if (::listen(impl_->listenFd, 128) != 0) fail("LoopbackServer: listen");
  if (::getsockname(impl_->listenFd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    fail("LoopbackServer: getsockname");
  }
  impl_->port = ntohs(address.sin_port);
  impl_->acceptThread = std::thread([impl = impl_.get()] { impl->AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
  impl_->Stop();
}

std::uint16_t LoopbackServer::Port() const {
  return impl_->port;
}

std::string LoopbackServer::HostPort() const {
  return "127.0.0.1:" + std::to_string(impl_->port);
}

std::vector<ReceivedRequest> LoopbackServer::Requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

int LoopbackServer::Connections() const {
  return impl_->connections;
}

int LoopbackServer::TlsHandshakeFailures() const {
  return impl_->tlsFailures;
}

Handler LoopbackServer::Reply(std::string rawReply) {
  return [reply = std::move(rawReply)](Connection& connection) {
    ReceivedRequest request;
    if (connection.ReadRequest(request)) connection.Write(reply);
    connection.Close();
  };
}

Handler LoopbackServer::Respond(int status, std::string body,
                                std::vector<std::pair<std::string, std::string>> headers) {
  std::string reply = "HTTP/1.0 " + std::to_string(status) + " " + ReasonPhrase(status) + "\r\n";
  bool framed = false;  // the caller chose the framing (possibly a wrong one, on purpose)
  for (const auto& [name, value] : headers) {
    reply += name + ": " + value + "\r\n";
    framed = framed || EqualsIgnoreCase(name, "Content-Length") ||
             EqualsIgnoreCase(name, "Transfer-Encoding");
  }
  // 1xx, 204 and 304 responses carry no body, so they get no Content-Length either.
  bool bodiless = status / 100 == 1 || status == 204 || status == 304;
  if (!framed && !bodiless) reply += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  reply += "\r\n";
  reply += body;
  return Reply(std::move(reply));
}

Handler LoopbackServer::Echo() {
  return [](Connection& connection) {
    ReceivedRequest request;
    if (connection.ReadRequest(request)) {
      connection.Write("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(request.raw.size()) +
                       "\r\n\r\n" + request.raw);
    }
    connection.Close();
  };
}

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string DecodeComponent(std::string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      bytes.push_back(' ');
    } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      bytes.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
      i += 2;
    } else {
      bytes.push_back(text[i]);
    }
  }
  return TextToUtf8(AnsiToText(bytes));
}

}  // namespace

std::vector<std::pair<std::string, std::string>> DecodeForm(std::string_view body) {
  std::vector<std::pair<std::string, std::string>> fields;
  while (!body.empty()) {
    const std::size_t amp = body.find('&');
    const std::string_view pair = body.substr(0, amp);
    const std::size_t eq = pair.find('=');
    fields.emplace_back(DecodeComponent(pair.substr(0, eq)),
                        eq == std::string_view::npos ? "" : DecodeComponent(pair.substr(eq + 1)));
    if (amp == std::string_view::npos) break;
    body.remove_prefix(amp + 1);
  }
  return fields;
}

Handler LoopbackServer::FormEcho() {
  return [](Connection& connection) {
    ReceivedRequest request;
    if (connection.ReadRequest(request)) {
      std::string text;
      for (const auto& [name, value] : DecodeForm(request.body)) {
        text += name + " = " + value + "\n";
      }
      connection.Write(
          "HTTP/1.0 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
          std::to_string(text.size()) + "\r\n\r\n" + text);
    }
    connection.Close();
  };
}

}  // namespace vizadavu::loopback

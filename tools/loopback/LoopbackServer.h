// In-process HTTP(S) servers for tests and the demonstration: bind 127.0.0.1 on an ephemeral port,
// serve each connection on its own thread with a scripted handler, record what
// they received, and stop in the destructor.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vizadavu::loopback {

struct ReceivedRequest {
  std::string raw;  // request line, headers and body exactly as received
  std::string method, target, version;
  std::vector<std::pair<std::string, std::string>> headers;  // in order, as sent
  std::string body;

  // First header of that name (case-insensitive), if any.
  std::optional<std::string> Header(std::string_view name) const;
};

// One accepted connection (plain, or TLS after a completed handshake). It belongs
// to the thread running the handler and must only be used from there. After the
// handler returns the connection is closed (orderly) unless the handler closed or
// reset it. Malformed requests make ReadRequest fail with a note on stderr.
class Connection {
 public:
  virtual ~Connection() = default;
  // Reads one request: headers up to the blank line, then Content-Length bytes
  // of body. Records it with the server. False on EOF, error or time-out.
  // Also decodes a chunked body (raw keeps the chunk framing), and answers an
  // HTTP/1.1 "Expect: 100-continue" with "HTTP/1.1 100 Continue" before reading
  // the body, as a real server would.
  virtual bool ReadRequest(ReceivedRequest& out,
                           std::chrono::milliseconds timeout = std::chrono::seconds(10)) = 0;
  // Writes all bytes; false when the peer has gone.
  virtual bool Write(std::string_view bytes) = 0;
  // Orderly close (FIN, TLS close_notify first).
  virtual void Close() = 0;
  // Abortive close: RST (SO_LINGER 0), no TLS close_notify.
  virtual void Reset() = 0;
  // A FIN without TLS close_notify first, as a cut connection looks (plain: Close).
  virtual void CloseWithoutNotify() = 0;
  // Reads raw bytes (up to max) with a time-out, for handlers that do not speak
  // HTTP. Bytes that arrived beyond what ReadRequest consumed (a pipelined next
  // request, surplus body bytes) are kept and returned first, as is the partial
  // input of a ReadRequest that failed. Empty on EOF/time-out.
  virtual std::string ReadSome(std::size_t max, std::chrono::milliseconds timeout) = 0;
};

using Handler = std::function<void(Connection&)>;

struct TlsIdentity {
  std::string certificatePem;  // leaf first, then any intermediates
  std::string privateKeyPem;
  int maxVersion = 0;      // highest protocol offered (e.g. TLS1_1_VERSION); 0: OpenSSL's
  int securityLevel = -1;  // OpenSSL security level of the server; -1: as configured
  bool requireClientCertificate = false;  // the handshake fails without one
};

// The fields of an application/x-www-form-urlencoded body, decoded ("+" is a
// space, "%XX" a byte): the bytes as sent. A malformed escape is kept as it stands.
std::vector<std::pair<std::string, std::string>> DecodeFormBytes(std::string_view body);
// The same fields turned from Windows-1252 into UTF-8 (by the library's code page,
// which is what the demonstration shows; tests decode with a table of their own).
std::vector<std::pair<std::string, std::string>> DecodeForm(std::string_view body);

// The handler runs on a separate thread per connection, possibly several at
// once, so it must be safe to call concurrently. An exception escaping it is
// reported on stderr and the connection is closed. A request appears in
// Requests() as soon as ReadRequest has read all of it, i.e. before any reply is
// written. Connections() counts at accept(), which may lag the client's
// connect() slightly. A TLS connection whose handshake fails (or that closes
// before completing it) is counted in TlsHandshakeFailures() and closed without
// calling the handler.
class LoopbackServer {
 public:
  // Starts listening at once; plain HTTP without tls.
  explicit LoopbackServer(Handler handler, std::optional<TlsIdentity> tls = std::nullopt);
  ~LoopbackServer();  // stops accepting, closes connections, joins every thread
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  std::uint16_t Port() const;
  // "127.0.0.1:PORT"
  std::string HostPort() const;

  std::vector<ReceivedRequest> Requests() const;  // every request ReadRequest read
  int Connections() const;                        // connections accepted so far
  int TlsHandshakeFailures() const;               // TLS connections whose handshake failed

  // Handler: read one request, write `rawReply` verbatim, close.
  static Handler Reply(std::string rawReply);
  // Handler: read one request, answer "HTTP/1.0 <status> <reason>" with the
  // headers and body given (Content-Length added after them, except for 1xx, 204
  // and 304 and when the headers already carry Content-Length or
  // Transfer-Encoding), close.
  static Handler Respond(int status, std::string body,
                         std::vector<std::pair<std::string, std::string>> headers = {});
  // Handler: read one request and echo it: 200, body = the raw request bytes.
  static Handler Echo();
  // Handler: read one form submission and answer 200 text/plain with one line
  // per field, "name = value", decoded from the urlencoded body (code page
  // Windows-1252) and written in UTF-8.
  static Handler FormEcho();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace vizadavu::loopback

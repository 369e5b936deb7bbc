// The connections of the loopback servers (internal to tools/loopback): a plain
// socket, or TLS over it through OpenSSL.
//
// Every socket is non-blocking and every wait is a poll() with a deadline, sliced so
// that a stopping server is noticed within ~100 ms. Writes never raise SIGPIPE: plain
// sockets use send(MSG_NOSIGNAL), and TLS goes through a small BIO that does the same.
#pragma once

#include <openssl/ssl.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tools/loopback/LoopbackServer.h"

namespace vizadavu::loopback {

using SteadyClock = std::chrono::steady_clock;

void Diagnose(const std::string& message);  // one line on stderr

// A socket call that failed only for now (would block, or interrupted).
bool IsRetryable(int error);

// One accepted socket. `fd` is closed only by the connection's own thread, and only
// while holding `fdMutex`, so the stopping server can shut it down without racing
// against a close (and a reuse of the descriptor number).
struct Worker {
  std::mutex fdMutex;
  int fd = -1;
  std::thread thread;
  std::atomic<bool> finished{false};
};

// What a connection needs of its server.
struct ServerSide {
  const std::atomic<bool>& stopping;
  std::function<void(const ReceivedRequest&)> record;
  std::function<void()> handshakeFailed;  // called before the failed connection closes
};

class SocketConnection : public Connection {
 public:
  SocketConnection(const ServerSide& server, Worker& worker) : server_(server), worker_(worker) {}

  bool ReadRequest(ReceivedRequest& out, std::chrono::milliseconds timeout) override;
  bool Write(std::string_view bytes) override;
  void Close() override;
  void Reset() override;
  void CloseWithoutNotify() override;
  std::string ReadSome(std::size_t max, std::chrono::milliseconds timeout) override;

 protected:
  // Bytes read (> 0), 0 on EOF or error, -1 on time-out or when the server stops.
  virtual ssize_t Receive(char* buffer, std::size_t length, SteadyClock::time_point deadline) = 0;
  virtual bool Send(std::string_view bytes, SteadyClock::time_point deadline) = 0;
  virtual void SendCloseNotify() {}

  int Fd() const { return worker_.fd; }
  // Waits until the socket is ready for `events`; false on time-out or server stop.
  bool Wait(short events, SteadyClock::time_point deadline) const;

  bool closed_ = false;

 private:
  bool Fill(SteadyClock::time_point deadline);
  void Finish(bool closeNotify);
  void CloseSocket(bool abortive);

  const ServerSide& server_;
  Worker& worker_;
  std::string pending_;  // received, not yet consumed by ReadRequest/ReadSome
};

std::unique_ptr<SocketConnection> MakePlainConnection(const ServerSide& server, Worker& worker);

struct SslCtxFree {
  void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
using ServerContext = std::unique_ptr<SSL_CTX, SslCtxFree>;

// The server's TLS context for `identity`; std::invalid_argument when it is unusable.
ServerContext MakeServerContext(const TlsIdentity& identity);

// A TLS connection after its handshake, or null (the socket closed with FIN, so the
// client can still read our alert) when the handshake failed.
std::unique_ptr<SocketConnection> AcceptTls(const ServerSide& server, Worker& worker,
                                            SSL_CTX* context);

}  // namespace vizadavu::loopback

// Plain connections of the loopback servers, and what TLS shares with them: reading a
// request through the parser, raw reads, orderly and abortive closes.
#include "tools/loopback/SocketConnection.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "tools/loopback/RequestParser.h"

namespace vizadavu::loopback {
namespace {

using namespace std::chrono_literals;

constexpr auto kWriteTimeout = 10s;
// How long an orderly close keeps reading (and discarding) after sending FIN, so that
// late client bytes do not turn the close into a RST that could destroy our reply.
constexpr auto kLingerTimeout = 2s;

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

}  // namespace

bool IsRetryable(int error) {
  return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

void Diagnose(const std::string& message) {
  std::fprintf(stderr, "LoopbackServer: %s\n", message.c_str());
}

std::unique_ptr<SocketConnection> MakePlainConnection(const ServerSide& server, Worker& worker) {
  return std::make_unique<PlainConnection>(server, worker);
}

bool SocketConnection::Wait(short events, SteadyClock::time_point deadline) const {
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

bool SocketConnection::Fill(SteadyClock::time_point deadline) {
  char buffer[16384];
  ssize_t n = Receive(buffer, sizeof buffer, deadline);
  if (n <= 0) return false;
  pending_.append(buffer, static_cast<std::size_t>(n));
  return true;
}

bool SocketConnection::Write(std::string_view bytes) {
  return !closed_ && Send(bytes, SteadyClock::now() + kWriteTimeout);
}

bool SocketConnection::ReadRequest(ReceivedRequest& out, std::chrono::milliseconds timeout) {
  if (closed_) return false;
  const auto deadline = SteadyClock::now() + timeout;
  bool invited = false;
  for (;;) {
    ReceivedRequest request;
    const ParseResult result = ParseRequest(pending_, request);
    if (result.status == ParseResult::kMalformed) {
      Diagnose(result.error);
      return false;
    }
    // Like a real HTTP/1.1 server, invite the body a client holds back for "Expect:
    // 100-continue" (always, so the bytes on the wire do not depend on timing).
    if (result.wantsContinue && !invited) {
      invited = true;
      if (!Send("HTTP/1.1 100 Continue\r\n\r\n", SteadyClock::now() + kWriteTimeout)) return false;
    }
    if (result.status == ParseResult::kComplete) {
      pending_.erase(0, result.consumed);
      server_.record(request);
      out = std::move(request);
      return true;
    }
    if (!Fill(deadline)) return false;
  }
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
  Finish(true);
}

void SocketConnection::CloseWithoutNotify() {
  Finish(false);
}

void SocketConnection::Finish(bool closeNotify) {
  if (closed_) return;
  if (closeNotify) SendCloseNotify();
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

}  // namespace vizadavu::loopback

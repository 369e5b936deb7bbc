#include "tests/support/FaultProxy.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>

#include "tests/support/LoopbackProxy.h"

namespace vizadavu::test {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// Gives up when neither side has sent anything for this long (a client that
// went away while the server still waits for its request).
constexpr auto kIdle = 500ms;

class Relay {
 public:
  Relay(const FaultPlan& plan, FaultReport& report)
      : plan_(plan), report_(report), draw_(plan.seed) {}

  // Sends `bytes` on to the server; false once it has gone.
  bool ToServer(int server, std::string_view bytes) {
    while (!bytes.empty()) {
      const std::size_t n = Next(plan_.upSegment, up_, bytes.size(), SIZE_MAX);
      if (::send(server, bytes.data(), n, MSG_NOSIGNAL) != static_cast<ssize_t>(n)) return false;
      up_ += n;
      bytes.remove_prefix(n);
    }
    return true;
  }

  // Sends `bytes` on to the client, ending the connection at the cut; false once
  // the connection has ended (cut, or the client has gone).
  bool ToClient(loopback::Connection& client, std::string_view bytes) {
    for (;;) {
      const std::size_t at = report_.relayed;
      if (at == plan_.cutAt) {
        report_.cut = true;
        plan_.reset ? client.Reset() : client.Close();
        return false;
      }
      if (bytes.empty()) return true;
      const std::size_t n = Next(plan_.downSegment, at, bytes.size(), plan_.cutAt - at);
      if (!client.Write(bytes.substr(0, n))) return false;
      report_.relayed = at + n;
      bytes.remove_prefix(n);
    }
  }

 private:
  // The next segment's size at offset `at` of a stream (pausing first when `at`
  // is a pause offset): drawn up to `largest`, ending before the next pause
  // offset, at most `left` and `limit`.
  std::size_t Next(std::size_t largest, std::size_t at, std::size_t left, std::size_t limit) {
    std::size_t n = largest == 0 ? left : 1 + static_cast<std::size_t>(draw_() % largest);
    for (const std::size_t pause : plan_.pauseAt) {
      if (pause == at) std::this_thread::sleep_for(plan_.pause);
      if (pause > at) n = std::min(n, pause - at);
    }
    return std::min({n, left, limit});
  }

  FaultPlan plan_;
  FaultReport& report_;
  std::mt19937_64 draw_;
  std::size_t up_ = 0;
};

}  // namespace

loopback::Handler FaultProxy(std::uint16_t serverPort, FaultPlan plan,
                             std::shared_ptr<FaultReport> report) {
  return [serverPort, plan, report](loopback::Connection& client) {
    const int server = ConnectLoopback("127.0.0.1:" + std::to_string(serverPort));
    if (server < 0) return;
    const int one = 1;
    ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Relay relay(plan, *report);
    char buffer[16384];
    for (auto active = SteadyClock::now(); SteadyClock::now() - active < kIdle;) {
      const std::string up = client.ReadSome(sizeof buffer, 1ms);
      if (!up.empty()) {
        active = SteadyClock::now();
        if (!relay.ToServer(server, up)) break;
      }
      pollfd ready{server, POLLIN, 0};
      if (::poll(&ready, 1, 1) <= 0) continue;
      const ssize_t n = ::recv(server, buffer, sizeof buffer, 0);
      if (n <= 0) {  // the server's close: a FIN follows, unless the cut falls exactly here
        relay.ToClient(client, {});
        break;
      }
      active = SteadyClock::now();
      if (!relay.ToClient(client, std::string_view(buffer, static_cast<std::size_t>(n)))) break;
    }
    ::close(server);
  };
}

}  // namespace vizadavu::test

#include "tests/support/TlsFaults.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace vizadavu::test {
namespace {

using namespace std::chrono_literals;

constexpr unsigned char kHandshakeRecord = 22;
constexpr unsigned char kServerKeyExchange = 12;

// Flips the last byte of a ServerKeyExchange message inside complete records at
// the front of `pending` and returns those records; an incomplete one stays.
std::string TakeRecords(std::string& pending) {
  std::size_t end = 0;
  while (pending.size() - end >= 5) {
    const auto* p = reinterpret_cast<unsigned char*>(pending.data() + end);
    const std::size_t length = (std::size_t{p[3]} << 8) | p[4];
    if (pending.size() - end - 5 < length) break;
    if (p[0] == kHandshakeRecord) {
      for (std::size_t at = 5; at + 4 <= length + 5;) {
        const std::size_t size =
            (std::size_t{p[at + 1]} << 16) | (std::size_t{p[at + 2]} << 8) | p[at + 3];
        if (at + 4 + size > length + 5) break;
        if (p[at] == kServerKeyExchange && size > 0) pending[end + at + 3 + size] ^= 0x01;
        at += 4 + size;
      }
    }
    end += 5 + length;
  }
  std::string records = pending.substr(0, end);
  pending.erase(0, end);
  return records;
}

}  // namespace

Handler CorruptingRelay(std::uint16_t port) {
  return [port](Connection& client) {
    const int upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(upstream, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(upstream);
      return;
    }
    std::string pending;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
      const std::string fromClient = client.ReadSome(1 << 16, 10ms);
      if (!fromClient.empty() &&
          ::send(upstream, fromClient.data(), fromClient.size(), MSG_NOSIGNAL) < 0) {
        break;
      }
      pollfd ready{upstream, POLLIN, 0};
      if (::poll(&ready, 1, 10) <= 0) continue;
      char buffer[1 << 16];
      const ssize_t got = ::recv(upstream, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      pending.append(buffer, static_cast<std::size_t>(got));
      if (!client.Write(TakeRecords(pending))) break;
    }
    ::close(upstream);
  };
}

std::vector<int> SocketsConnectedTo(std::uint16_t port) {
  std::vector<int> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    const int fd = std::atoi(entry.path().filename().c_str());
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) == 0 &&
        peer.sin_family == AF_INET && ntohs(peer.sin_port) == port &&
        ntohl(peer.sin_addr.s_addr) == INADDR_LOOPBACK) {
      found.push_back(fd);
    }
  }
  return found;
}

}  // namespace vizadavu::test

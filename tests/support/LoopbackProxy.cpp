#include "tests/support/LoopbackProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

namespace vizadavu::test {

int ConnectLoopback(const std::string& authority) {
  const std::string prefix = "127.0.0.1:";
  if (authority.rfind(prefix, 0) != 0) return -1;
  const int port = std::atoi(authority.c_str() + prefix.size());
  if (port <= 0 || port > 65535) return -1;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

namespace {

using namespace std::chrono_literals;

// Copies bytes both ways until the server closes or nothing moves for 5 s.
void Tunnel(loopback::Connection& client, int server) {
  auto idleSince = std::chrono::steady_clock::now();
  char buffer[16384];
  while (std::chrono::steady_clock::now() - idleSince < 5s) {
    const std::string up = client.ReadSome(sizeof buffer, 5ms);
    if (!up.empty()) {
      idleSince = std::chrono::steady_clock::now();
      if (send(server, up.data(), up.size(), MSG_NOSIGNAL) < 0) return;
    }
    pollfd p{server, POLLIN, 0};
    if (poll(&p, 1, 5) <= 0) continue;
    const ssize_t n = recv(server, buffer, sizeof buffer, 0);
    if (n <= 0) return;
    idleSince = std::chrono::steady_clock::now();
    if (!client.Write(std::string_view(buffer, static_cast<std::size_t>(n)))) return;
  }
}

}  // namespace

loopback::Handler ProxyHandler() {
  return [](loopback::Connection& client) {
    loopback::ReceivedRequest request;
    if (!client.ReadRequest(request)) return;
    if (request.method != "CONNECT") {
      const std::string body = "proxied " + request.target;
      client.Write("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                   "\r\nConnection: close\r\n\r\n" + body);
      return;
    }
    const int server = ConnectLoopback(request.target);
    if (server < 0) {
      client.Write("HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n");
      return;
    }
    if (client.Write("HTTP/1.1 200 Connection established\r\n\r\n")) Tunnel(client, server);
    close(server);
  };
}

}  // namespace vizadavu::test

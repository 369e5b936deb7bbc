// Helpers for tests that talk to loopback servers: keeping a configured proxy out,
// a port nobody listens on, a file written whole, an environment variable set for
// one scope, and a server that trickles its reply.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/loopback/LoopbackServer.h"

namespace vizadavu::test {

// Tests talk only to loopback servers, so a proxy configured in the environment
// must not reroute (or intercept) their requests.
inline void ClearProxyEnvironment() {
  for (const char* name :
       {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    unsetenv(name);
  }
  setenv("no_proxy", "*", 1);
}

// A loopback port nobody listens on, so a connection to it is refused. The port
// stays bound (never listened on) until the process ends: a port merely released
// again could be taken by a server of a test running beside this one, which would
// then answer the connection meant to be refused.
inline std::uint16_t UnusedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::perror("UnusedPort");
    std::abort();
  }
  return ntohs(address.sin_port);  // fd is kept open on purpose
}

// Writes `text` to `path` through a file beside it, renamed into place, so that a
// reader waiting for the file never sees half of it (a server's ports file).
inline bool ReplaceFile(const std::string& path, const std::string& text) {
  const std::string partial = path + ".partial";
  std::ofstream(partial, std::ios::binary | std::ios::trunc) << text;
  return std::rename(partial.c_str(), path.c_str()) == 0;
}

// Sets (or with nullptr removes) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Reads the request, writes `pieces` one at a time `gap` apart (the first at once),
// then stays silent until the client goes.
inline loopback::Handler Trickle(std::vector<std::string> pieces, std::chrono::milliseconds gap) {
  return [pieces = std::move(pieces), gap](loopback::Connection& connection) {
    loopback::ReceivedRequest request;
    if (!connection.ReadRequest(request)) return;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      if (i > 0) std::this_thread::sleep_for(gap);
      if (!connection.Write(pieces[i])) return;
    }
    connection.ReadSome(1, std::chrono::seconds(5));  // EOF once the client closes
  };
}

}  // namespace vizadavu::test

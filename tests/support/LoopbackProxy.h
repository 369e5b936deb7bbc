// A forward proxy for tests, as a handler of a loopback server (which records
// every request line it gets): a CONNECT to 127.0.0.1 is tunnelled; any other
// request is answered by the proxy itself with 200 and the body
// "proxied <target>", so a request for a name that resolves nowhere still shows
// the exact target the client wrote.
#pragma once

#include <string>

#include "tools/loopback/LoopbackServer.h"

namespace vizadavu::test {

loopback::Handler ProxyHandler();

// A TCP connection to `authority` when it is "127.0.0.1:PORT"; -1 on failure or
// for any other host.
int ConnectLoopback(const std::string& authority);

}  // namespace vizadavu::test

// Helpers for tests of connection hygiene: a relay that forges a TLS server's
// signature, and the process's own sockets connected to a port.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/support/TestPki.h"

namespace vizadavu::test {

// Handler for a plain loopback server that relays each connection to the TLS
// server on 127.0.0.1:`port`, flipping the last byte of the server's key
// exchange message (TLS 1.2: the end of its signature) on the way back.
Handler CorruptingRelay(std::uint16_t port);

// The descriptors of this process that are TCP sockets connected to 127.0.0.1:`port`.
std::vector<int> SocketsConnectedTo(std::uint16_t port);

}  // namespace vizadavu::test

// A hostile TCP proxy for the randomized fault runs, as the handler of a plain
// loopback server: it relays one connection to a plain or TLS server on
// 127.0.0.1, cuts both directions into segments (single bytes, or sizes drawn
// from the seed), pauses before chosen offsets, and ends the server's stream at
// a chosen offset with a FIN or an RST. It works below TLS, so its cuts and
// pauses land inside records. Everything but timing follows from the plan.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "tools/loopback/LoopbackServer.h"

namespace vizadavu::test {

struct FaultPlan {
  std::uint64_t seed = 0;            // draws the segment sizes
  std::size_t upSegment = 0;         // largest segment towards the server; 0: as received
  std::size_t downSegment = 0;       // largest segment towards the client; 0: as received
  std::vector<std::size_t> pauseAt;  // offsets, in either stream, before which to pause
  std::chrono::milliseconds pause{0};
  std::size_t cutAt = std::numeric_limits<std::size_t>::max();  // offset in the server's stream
  bool reset = false;                                           // the cut is an RST, not a FIN
};

// What the proxy did; complete once its loopback server has been destroyed.
struct FaultReport {
  std::atomic<bool> cut{false};         // the server's stream was cut at cutAt
  std::atomic<std::size_t> relayed{0};  // bytes of the server's stream the client was sent
};

loopback::Handler FaultProxy(std::uint16_t serverPort, FaultPlan plan,
                             std::shared_ptr<FaultReport> report);

}  // namespace vizadavu::test

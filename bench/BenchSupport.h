// What the benchmarks share: a loopback server that serves replies of any size
// from one buffer in memory, and peak-memory readings.
#pragma once

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <charconv>
#include <fstream>
#include <string>

#include "tools/loopback/LoopbackServer.h"

namespace vizadavu::bench {

constexpr std::size_t kMiB = std::size_t{1} << 20;

// Bytes of every value, in a pattern that does not compress or repeat early.
inline const std::string& ReplyBytes() {
  static const std::string bytes = [] {
    std::string b(256 * kMiB, '\0');
    std::uint32_t x = 2463534242u;
    for (char& c : b) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      c = static_cast<char>(x);
    }
    return b;
  }();
  return bytes;
}

// GET or POST /N answers N bytes of ReplyBytes() with a Content-Length, written
// with one large write straight from the shared buffer.
inline loopback::LoopbackServer& Server() {
  static loopback::LoopbackServer server([](loopback::Connection& c) {
    loopback::ReceivedRequest request;
    if (!c.ReadRequest(request)) return;
    std::size_t size = 0;
    const std::string& t = request.target;
    std::from_chars(t.data() + 1, t.data() + t.size(), size);
    if (size > ReplyBytes().size()) size = 0;
    c.Write("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n");
    c.Write(std::string_view(ReplyBytes().data(), size));
    c.Close();
  });
  return server;
}

inline std::string UrlFor(std::size_t bytes) {
  return "http://" + Server().HostPort() + "/" + std::to_string(bytes);
}

// A "VmXXX:" line of /proc/self/status, in bytes.
inline long StatusBytes(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == field) {
      status >> value;
      return value * 1024;
    }
    status.ignore(1 << 12, '\n');
  }
  return 0;
}
// Peak resident memory since the last reset, and resident memory now.
inline long PeakResident() {
  return StatusBytes("VmHWM:");
}
inline long Resident() {
  return StatusBytes("VmRSS:");
}

// Minor page faults of the whole process so far.
inline long PageFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}
inline void ResetPeakResident() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

}  // namespace vizadavu::bench

// What the benchmarks share: a loopback server that serves replies of any size
// from one buffer in memory, and peak-memory readings.
#pragma once

#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "tools/loopback/LoopbackServer.h"
#include "vizadavu/vizADAVU.h"

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

// The size a reply target names: "/N" with N decimal digits and nothing else.
inline std::optional<std::size_t> ReplySize(std::string_view target) {
  std::size_t size = 0;
  if (target.size() < 2 || target[0] != '/') return std::nullopt;
  const char* end = target.data() + target.size();
  const auto [stop, error] = std::from_chars(target.data() + 1, end, size);
  if (error != std::errc() || stop != end) return std::nullopt;
  return size;
}

// GET or POST /N answers N bytes of ReplyBytes() (repeated from the start when
// N is larger) with a Content-Length, written in large writes straight from the
// shared buffer; any other target gets a 404, so that a wrong URL can never pass
// for an empty reply.
inline void ServeReply(loopback::Connection& c) {
  loopback::ReceivedRequest request;
  if (!c.ReadRequest(request)) return;
  const std::optional<std::size_t> size = ReplySize(request.target);
  if (!size) {
    c.Write("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    c.Close();
    return;
  }
  c.Write("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(*size) + "\r\n\r\n");
  const std::string& bytes = ReplyBytes();
  for (std::size_t left = *size; left > 0;) {
    const std::size_t n = std::min(left, bytes.size());
    if (!c.Write(std::string_view(bytes.data(), n))) return;
    left -= n;
  }
  c.Close();
}

inline loopback::LoopbackServer& Server() {
  static loopback::LoopbackServer server(ServeReply);
  return server;
}

// ASCII words, spaces, punctuation and Latin-1 letters.
inline const Text& MixedText() {
  static const Text text = [] {
    const Text pieces[] = {u"form",
                           u" ",
                           u"value",
                           u"&",
                           u"50%",
                           u"caf\u00e9",
                           u"=",
                           u"-_.",
                           u"Z\u00fcrich",
                           u"(x)",
                           u"\u00c5ngstr\u00f6m",
                           u"a+b",
                           u"/path?q"};
    Text t;
    std::uint32_t x = 7;
    while (t.size() < kMiB) {
      x = x * 1103515245u + 12345u;
      t += pieces[(x >> 16) % std::size(pieces)];
    }
    t.resize(kMiB);
    return t;
  }();
  return text;
}

// "http://127.0.0.1:PORT" of the in-process reply server.
inline std::string ServerBase() {
  return "http://" + Server().HostPort();
}

inline std::string UrlFor(std::size_t bytes) {
  return ServerBase() + "/" + std::to_string(bytes);
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

// Keeps every freed block on glibc's heap (no mappings of their own, no
// trimming), so that a host reusing its heap finds its pages already faulted
// in: raw libcurl's best case. Process-wide, so every side in the process
// gets it.
inline void KeepFreedBlocksOnTheHeap() {
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
}

}  // namespace vizadavu::bench

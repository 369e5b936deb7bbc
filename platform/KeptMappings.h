// Released mappings, already wiped to zeros, kept for the next long reply: a
// fresh mapping has every page faulted in and zeroed by the system again, which
// costs more than the transfer itself. At most two are kept, of at most
// kMaxBytes each, and the memory service marks each one so that the system may
// take its pages back under memory pressure (a page it took comes back
// zero-filled; one it did not still holds the zeros it was wiped to). Such pages
// may still count as resident until the system takes them, so the bound is what
// the control may hold after Clear: 64 MiB. Keeping a 256 MiB reply's 512 MiB
// text as well was measured on Linux: its next chunked read took 176 ms instead
// of 245 ms (still 1.28 x raw libcurl), not worth half a gigabyte held after the
// host asked for it back. The policy is the same on every system; only how a
// mapping is made, marked and released differs.
#pragma once

#include <cstddef>
#include <mutex>
#include <utility>

namespace vizadavu::platform {

class KeptMappings {
 public:
  static constexpr std::size_t kMaxBytes = std::size_t{32} << 20;

  struct Mapping {
    void* map = nullptr;
    std::size_t bytes = 0;
  };

  // The smallest kept mapping of at least `bytes` (`bytes` becomes its size),
  // or nullptr when none is large enough.
  void* Take(std::size_t& bytes) noexcept {
    const std::lock_guard lock(mutex_);
    Mapping* best = nullptr;
    for (Mapping& k : kept_) {
      if (k.map != nullptr && k.bytes >= bytes && (best == nullptr || k.bytes < best->bytes)) {
        best = &k;
      }
    }
    if (best == nullptr) return nullptr;
    bytes = best->bytes;
    return std::exchange(*best, Mapping{}).map;
  }

  // Keeps `released` (wiped and marked already; at most kMaxBytes) in place of
  // the smallest kept one when that is smaller. Returns the mapping the caller
  // releases now: the one put out, `released` itself, or none.
  Mapping Keep(Mapping released) noexcept {
    const std::lock_guard lock(mutex_);
    Mapping* smallest = &kept_[0];
    for (Mapping& k : kept_) {
      if (k.bytes < smallest->bytes) smallest = &k;
    }
    if (smallest->bytes < released.bytes) std::swap(released, *smallest);
    return released;
  }

 private:
  std::mutex mutex_;
  Mapping kept_[2];
};

}  // namespace vizadavu::platform

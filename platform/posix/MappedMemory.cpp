#include "platform/Memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <utility>

namespace vizadavu::platform {
namespace {

// A fresh anonymous mapping of `bytes` (a multiple of kHugePage) aligned to a
// huge page; nullptr when there is no memory for it.
void* MapAligned(std::size_t bytes) {
  const std::size_t span = bytes + kHugePage;
  void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto base = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t start = (base + kHugePage - 1) & ~(std::uintptr_t{kHugePage} - 1);
  const std::size_t head = start - base;
  if (head > 0) munmap(raw, head);
  if (span - head - bytes > 0) munmap(reinterpret_cast<void*>(start + bytes), span - head - bytes);
  void* map = reinterpret_cast<void*>(start);
  madvise(map, bytes, MADV_HUGEPAGE);
  return map;
}

// Released mappings, already wiped to zeros, kept for the next long reply: a
// fresh mapping has every page faulted in and zeroed by the kernel again, which
// costs more than the transfer itself. At most two are kept, of at most
// kKeptMax bytes each, marked MADV_FREE so the kernel takes their pages back
// under memory pressure (a page it took comes back zero-filled; one it did not
// still holds the zeros it was wiped to). MADV_FREE pages still count as
// resident until the kernel takes them, so the bound is what the control may
// hold after Clear: 64 MiB. Keeping a 256 MiB reply's 512 MiB text as well was
// measured: its next chunked read took 176 ms instead of 245 ms (still 1.28 x
// raw libcurl), not worth half a gigabyte held after the host asked for it back.
constexpr std::size_t kKeptMax = std::size_t{32} << 20;

class BuiltInMemory final : public Memory {
 public:
  void* Allocate(std::size_t bytes, bool zeroed) noexcept override {
    if (bytes == 0) bytes = 1;
    return zeroed ? std::calloc(bytes, 1) : std::malloc(bytes);
  }

  void Free(void* block) noexcept override { std::free(block); }

  // The smallest kept mapping that is large enough, else a fresh one.
  void* Map(std::size_t& bytes) noexcept override {
    {
      const std::lock_guard lock(mutex_);
      Kept* best = nullptr;
      for (Kept& k : kept_) {
        if (k.map != nullptr && k.bytes >= bytes && (best == nullptr || k.bytes < best->bytes)) {
          best = &k;
        }
      }
      if (best != nullptr) {
        bytes = best->bytes;
        return std::exchange(*best, Kept{}).map;
      }
    }
    return MapAligned(bytes);
  }

  void Unmap(void* map, std::size_t bytes) noexcept override {
    if (bytes <= kKeptMax) {
      madvise(map, bytes, MADV_FREE);
      const std::lock_guard lock(mutex_);
      Kept* smallest = &kept_[0];
      for (Kept& k : kept_) {
        if (k.bytes < smallest->bytes) smallest = &k;
      }
      if (smallest->bytes < bytes) {
        std::swap(map, smallest->map);
        std::swap(bytes, smallest->bytes);
      }
    }
    if (map != nullptr) munmap(map, bytes);
  }

 private:
  struct Kept {
    void* map = nullptr;
    std::size_t bytes = 0;
  };
  std::mutex mutex_;
  Kept kept_[2];
};

}  // namespace

bool MoveMapping(void* from, std::size_t bytes, void* to) noexcept {
  return mremap(from, bytes, bytes, MREMAP_MAYMOVE | MREMAP_FIXED, to) != MAP_FAILED;
}

Memory& SystemMemory() noexcept {
  // Never destroyed, so controls that outlive static destruction still work.
  static auto* memory = new BuiltInMemory;
  return *memory;
}

}  // namespace vizadavu::platform

#include "platform/KeptMappings.h"
#include "platform/Memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <mutex>

namespace vizadavu::platform {
namespace {

// A fresh anonymous mapping of `bytes` (a multiple of kHugePage) aligned to a
// huge page; nullptr when there is no memory for it. Huge pages are not asked
// for (MADV_HUGEPAGE): on a freshly started VM of the benchmarks' kind, the
// first touch of 600 MiB took 2.26-2.42 s in huge pages against 0.23-0.27 s in
// 4 KiB pages, and a first 256 MiB chunked read 0.3-2.3 s against 0.38-0.51 s.
// A system that gives them to every mapping (THP "always") still can.
void* MapAligned(std::size_t bytes) {
  const std::size_t span = bytes + kHugePage;
  void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto base = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t start = (base + kHugePage - 1) & ~(std::uintptr_t{kHugePage} - 1);
  const std::size_t head = start - base;
  if (head > 0) munmap(raw, head);
  if (span - head - bytes > 0) munmap(reinterpret_cast<void*>(start + bytes), span - head - bytes);
  return reinterpret_cast<void*>(start);
}

class BuiltInMemory final : public Memory {
 public:
  void* Allocate(std::size_t bytes, bool zeroed) noexcept override {
    if (bytes == 0) bytes = 1;
    return zeroed ? std::calloc(bytes, 1) : std::malloc(bytes);
  }

  void Free(void* block) noexcept override { std::free(block); }

  // The smallest kept mapping that is large enough, else a fresh one.
  void* Map(std::size_t& bytes) noexcept override {
    if (void* kept = kept_.Take(bytes)) {
      NoteReused(kept, bytes);
      return kept;
    }
    void* fresh = MapAligned(bytes);
    if (fresh != nullptr) ForgetReused(fresh, bytes);
    return fresh;
  }

  void Unmap(void* map, std::size_t bytes) noexcept override {
    ForgetReused(map, bytes);
    KeptMappings::Mapping gone{map, bytes};
    if (bytes <= KeptMappings::kMaxBytes) {
      madvise(map, bytes, MADV_FREE);
      gone = kept_.Keep(gone);
    }
    if (gone.map != nullptr) munmap(gone.map, gone.bytes);
  }

  // MADV_POPULATE_WRITE (Linux 5.14). On the benchmarks' VM, writing 256 MiB
  // of fresh mapping took 128-159 ms when each MiB was made present first and
  // 218-256 ms when its pages were faulted in one by one by the writes. A
  // system without it says EINVAL once, and is not asked again.
  // A kept mapping handed out again is not asked: its pages are present still
  // (but those the system took back), and asking only walks its page tables.
  // That walk took 4.1 % of the samples of a warm 16 MiB single read here
  // (`perf record` of vizadavu_bench, its server included), against 9.4 % for
  // the read's own copy into the buffer.
  void Prefault(void* at, std::size_t bytes) noexcept override {
    if (bytes == 0 || !populate_.load(std::memory_order_relaxed) || InReused(at, bytes)) return;
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(at) & ~(page - 1);
    const auto end = reinterpret_cast<std::uintptr_t>(at) + bytes;
    const int hostErrno = errno;  // a hint leaves the host's errno as it was
    if (madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE) != 0 &&
        errno == EINVAL) {
      populate_.store(false, std::memory_order_relaxed);
    }
    errno = hostErrno;
  }

 private:
  // Notes `map`, a kept mapping, as in use again (while a note is free).
  void NoteReused(void* map, std::size_t bytes) noexcept {
    const std::lock_guard lock(reusedMutex_);
    for (KeptMappings::Mapping& r : reused_) {
      if (r.map == nullptr) return void(r = {map, bytes});
    }
  }

  // Forgets every note that overlaps `map`: on its release, and on a fresh
  // mapping, since a mapping moved away by MoveMapping is never unmapped here
  // and its addresses may come back in a fresh one.
  void ForgetReused(void* map, std::size_t bytes) noexcept {
    const auto begin = reinterpret_cast<std::uintptr_t>(map);
    const std::lock_guard lock(reusedMutex_);
    for (KeptMappings::Mapping& r : reused_) {
      const auto start = reinterpret_cast<std::uintptr_t>(r.map);
      if (r.map != nullptr && start < begin + bytes && begin < start + r.bytes) r = {};
    }
  }

  bool InReused(void* at, std::size_t bytes) noexcept {
    const auto begin = reinterpret_cast<std::uintptr_t>(at);
    const std::lock_guard lock(reusedMutex_);
    for (const KeptMappings::Mapping& r : reused_) {
      const auto start = reinterpret_cast<std::uintptr_t>(r.map);
      if (r.map != nullptr && start <= begin && begin + bytes <= start + r.bytes) return true;
    }
    return false;
  }

  KeptMappings kept_;
  std::mutex reusedMutex_;
  KeptMappings::Mapping reused_[2];  // as many as kept_ holds
  std::atomic<bool> populate_{true};
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

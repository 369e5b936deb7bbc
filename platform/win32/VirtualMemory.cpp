// The built-in memory on Windows: the C heap for blocks, VirtualAlloc for
// mappings. Windows cannot move pages from one address to another, so a
// mapping grows by a copy, and the old one is wiped before it goes back.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/KeptMappings.h"
#include "platform/Memory.h"
#include "platform/SecureMemory.h"

namespace vizadavu::platform {
namespace {

// A fresh zero-filled allocation of `bytes` (a multiple of kHugePage) whose
// base is aligned to a huge page, so that VirtualFree can release it by its
// address alone; nullptr when there is no memory for it. An aligned address is
// found by reserving more than needed and releasing it again; another thread
// may take the address in between, so it is tried a few times.
void* MapAligned(std::size_t bytes) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    void* probe = VirtualAlloc(nullptr, bytes + kHugePage, MEM_RESERVE, PAGE_NOACCESS);
    if (probe == nullptr) return nullptr;
    const auto base = reinterpret_cast<std::uintptr_t>(probe);
    const std::uintptr_t start = (base + kHugePage - 1) & ~(std::uintptr_t{kHugePage} - 1);
    VirtualFree(probe, 0, MEM_RELEASE);
    void* map = VirtualAlloc(reinterpret_cast<void*>(start), bytes, MEM_RESERVE | MEM_COMMIT,
                             PAGE_READWRITE);
    if (map != nullptr) return map;
  }
  return nullptr;
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
    if (void* kept = kept_.Take(bytes)) return kept;
    return MapAligned(bytes);
  }

  void Unmap(void* map, std::size_t bytes) noexcept override {
    KeptMappings::Mapping gone{map, bytes};
    if (bytes <= KeptMappings::kMaxBytes) {
      VirtualAlloc(map, bytes, MEM_RESET, PAGE_READWRITE);
      gone = kept_.Keep(gone);
    }
    if (gone.map != nullptr) VirtualFree(gone.map, 0, MEM_RELEASE);
  }

 private:
  KeptMappings kept_;
};

}  // namespace

namespace {

// Whether `map` is the start of a whole committed allocation of at least `bytes`.
bool IsMapping(void* map, std::size_t bytes) noexcept {
  MEMORY_BASIC_INFORMATION info{};
  return VirtualQuery(map, &info, sizeof info) == sizeof info && info.AllocationBase == map &&
         info.State == MEM_COMMIT && info.RegionSize >= bytes;
}

}  // namespace

// A copy: the bytes go to `to`, are wiped at `from`, and `from` is released.
// Refused (nothing changed) unless both are whole mappings of at least
// `bytes`, as mremap refuses a range that is not one.
bool MoveMapping(void* from, std::size_t bytes, void* to) noexcept {
  if (!IsMapping(from, bytes) || !IsMapping(to, bytes)) return false;
  std::memcpy(to, from, bytes);
  SecureWipe(from, bytes);
  VirtualFree(from, 0, MEM_RELEASE);
  return true;
}

Memory& SystemMemory() noexcept {
  // Never destroyed, so controls that outlive static destruction still work.
  static auto* memory = new BuiltInMemory;
  return *memory;
}

}  // namespace vizadavu::platform

// Where the control's reply storage gets its memory: heap blocks for small
// buffers, anonymous mappings for large ones. A host or test may supply its
// own, e.g. to make a given allocation fail.
#pragma once

#include <cstddef>

namespace vizadavu::platform {

// Mappings are whole, aligned huge pages, so that where the system backs them
// with transparent huge pages a long reply takes one page fault per 2 MiB
// instead of one per 4 KiB, and mremap moves whole page-table entries.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

inline std::size_t HugeRound(std::size_t bytes) {
  return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

class Memory {
 public:
  virtual ~Memory() = default;
  // A heap block of `bytes` (at least 1), zero-filled when `zeroed`; nullptr
  // when there is no memory for it.
  virtual void* Allocate(std::size_t bytes, bool zeroed) noexcept = 0;
  // Gives back a block from Allocate.
  virtual void Free(void* block) noexcept = 0;
  // A zero-filled, private, read-write anonymous mapping aligned to kHugePage
  // of at least `bytes` (a multiple of kHugePage); `bytes` becomes the size
  // actually mapped. nullptr when there is no memory for it.
  virtual void* Map(std::size_t& bytes) noexcept = 0;
  // Gives back a mapping from Map (or one mremap moved into its place) of
  // `bytes`, every byte of which is zero.
  virtual void Unmap(void* map, std::size_t bytes) noexcept = 0;
  // The `bytes` at `at` (writable memory of this process) are about to be
  // written: where the system can, their pages are made present in one call,
  // which costs far less than a fault per 4 KiB page. Only a hint: nothing is
  // written, and the default does nothing.
  virtual void Prefault(void* at, std::size_t bytes) noexcept {
    static_cast<void>(at);
    static_cast<void>(bytes);
  }
};

// How far ahead of the bytes arriving a long read or text has its pages made
// present: at most this much memory is touched before it is needed.
constexpr std::size_t kPrefaultStep = std::size_t{1} << 20;

// Moves the `bytes` of mapping `from` (from Map) to the start of mapping `to`,
// page tables and all: no copy, and nothing stays behind at `from`, which is
// unmapped. False (and nothing changed) when the system refuses.
bool MoveMapping(void* from, std::size_t bytes, void* to) noexcept;

// The built-in memory: malloc/calloc and mmap, with up to two released
// mappings kept for the next long reply. Shared by every control.
Memory& SystemMemory() noexcept;

}  // namespace vizadavu::platform

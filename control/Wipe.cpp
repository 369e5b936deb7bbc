#include "control/Wipe.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <utility>

namespace vizadavu::detail {

namespace {

// Texts of this many bytes or more live in their own mapping; smaller ones in
// heap blocks, which the allocator reuses from one transfer to the next.
constexpr std::size_t kMapThreshold = std::size_t{128} << 10;
// Mappings are whole, aligned huge pages, so that where the system offers
// transparent huge pages on request a long reply takes one page fault per
// 2 MiB instead of one per 4 KiB, and mremap moves whole page-table entries.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t HugeRound(std::size_t bytes) {
  return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

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
// still holds the zeros it was wiped to).
constexpr std::size_t kKeptMax = std::size_t{512} << 20;
struct Kept {
  void* map = nullptr;
  std::size_t bytes = 0;
};
std::mutex g_keptMutex;
Kept g_kept[2];

// A zeroed, aligned mapping of at least `bytes`: the smallest kept one that is
// large enough, else a fresh one. `bytes` becomes the size actually mapped.
void* TakeMapping(std::size_t& bytes) {
  {
    const std::lock_guard lock(g_keptMutex);
    Kept* best = nullptr;
    for (Kept& k : g_kept) {
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

// Gives back a mapping whose every byte is zero.
void ReturnMapping(void* map, std::size_t bytes) {
  if (bytes <= kKeptMax) {
    madvise(map, bytes, MADV_FREE);
    const std::lock_guard lock(g_keptMutex);
    Kept* smallest = &g_kept[0];
    for (Kept& k : g_kept) {
      if (k.bytes < smallest->bytes) smallest = &k;
    }
    if (smallest->bytes < bytes) {
      std::swap(map, smallest->map);
      std::swap(bytes, smallest->bytes);
    }
  }
  if (map != nullptr) munmap(map, bytes);
}

}  // namespace

char16_t* SecretText::Extend(std::size_t count) {
  if (count > capacity_ - size_) Grow(count);
  char16_t* at = data_ + size_;
  size_ += count;
  return at;
}

void SecretText::Grow(std::size_t needed) {
  constexpr std::size_t kMaxChars = std::numeric_limits<std::size_t>::max() / 4;
  if (needed > kMaxChars - size_) throw std::bad_alloc();
  const std::size_t wanted = std::max({size_ + needed, capacity_ * 2, std::size_t{64}});
  const std::size_t bytes = wanted * sizeof(char16_t);
  if (mapped_) {
    // Move the pages into the start of a larger aligned mapping: no copy, and
    // nothing of the text stays behind at the old address.
    const std::size_t oldBytes = capacity_ * sizeof(char16_t);
    std::size_t newBytes = HugeRound(bytes);
    void* fresh = TakeMapping(newBytes);
    if (fresh == nullptr) throw std::bad_alloc();
    if (mremap(data_, oldBytes, oldBytes, MREMAP_MAYMOVE | MREMAP_FIXED, fresh) == MAP_FAILED) {
      ReturnMapping(fresh, newBytes);
      throw std::bad_alloc();
    }
    data_ = static_cast<char16_t*>(fresh);
    capacity_ = newBytes / sizeof(char16_t);
    return;
  }
  const bool map = bytes >= kMapThreshold;
  std::size_t grownBytes = map ? HugeRound(bytes) : bytes;
  auto* grown = static_cast<char16_t*>(map ? TakeMapping(grownBytes) : std::malloc(grownBytes));
  if (grown == nullptr) throw std::bad_alloc();
  const std::size_t size = size_;
  if (size > 0) std::memcpy(grown, data_, size * sizeof(char16_t));
  Release();
  data_ = grown;
  size_ = size;
  capacity_ = grownBytes / sizeof(char16_t);
  mapped_ = map;
}

void SecretText::Wipe() noexcept {
  platform::SecureWipe(data_, size_ * sizeof(char16_t));
  size_ = 0;
}

void SecretText::Release() noexcept {
  if (data_ == nullptr) return;
  // Only the first size_ characters were ever written (Wipe zeroes what it drops).
  const std::size_t bytes = capacity_ * sizeof(char16_t);
  platform::SecureWipe(data_, size_ * sizeof(char16_t));
  if (platform::g_freedBlockHook != nullptr) platform::g_freedBlockHook(data_, bytes);
  if (mapped_) {
    ReturnMapping(data_, bytes);
  } else {
    std::free(data_);
  }
  data_ = nullptr;
  size_ = capacity_ = 0;
  mapped_ = false;
}

SecretBytes::SecretBytes(std::size_t size) : size_(size) {
  if (size >= kMapThreshold) {
    mapBytes_ = HugeRound(size);
    data_ = static_cast<std::uint8_t*>(TakeMapping(mapBytes_));
  } else {
    data_ = static_cast<std::uint8_t*>(std::calloc(size == 0 ? 1 : size, 1));
  }
  if (data_ == nullptr) throw std::bad_alloc();
}

SecretBytes::~SecretBytes() {
  Release();
}

SecretBytes::SecretBytes(SecretBytes&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      dirty_(std::exchange(other.dirty_, 0)),
      mapBytes_(std::exchange(other.mapBytes_, 0)) {}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    dirty_ = std::exchange(other.dirty_, 0);
    mapBytes_ = std::exchange(other.mapBytes_, 0);
  }
  return *this;
}

void SecretBytes::Release() noexcept {
  if (data_ == nullptr) return;
  // Bytes past dirty_ were never written and are still zero.
  platform::SecureWipe(data_, dirty_);
  if (platform::g_freedBlockHook != nullptr) platform::g_freedBlockHook(data_, size_);
  if (mapBytes_ > 0) {
    ReturnMapping(data_, mapBytes_);
  } else {
    std::free(data_);
  }
  data_ = nullptr;
  mapBytes_ = 0;
}

}  // namespace vizadavu::detail

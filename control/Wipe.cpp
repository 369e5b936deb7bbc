#include "control/Wipe.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

namespace vizadavu::detail {

namespace {

// Texts of this many bytes or more live in their own mapping.
constexpr std::size_t kMapThreshold = std::size_t{1} << 20;

std::size_t PageRound(std::size_t bytes) {
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return (bytes + page - 1) / page * page;
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
    const std::size_t newBytes = PageRound(bytes);
    void* moved = mremap(data_, capacity_ * sizeof(char16_t), newBytes, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED) throw std::bad_alloc();
    data_ = static_cast<char16_t*>(moved);
    capacity_ = newBytes / sizeof(char16_t);
    return;
  }
  char16_t* grown;
  std::size_t grownChars;
  if (bytes >= kMapThreshold) {
    const std::size_t mapBytes = PageRound(bytes);
    void* map = mmap(nullptr, mapBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) throw std::bad_alloc();
    // Huge pages, where the system offers them on request, take a long reply
    // with a fault per 2 MiB instead of one per 4 KiB. The flag moves with mremap.
    madvise(map, mapBytes, MADV_HUGEPAGE);
    grown = static_cast<char16_t*>(map);
    grownChars = mapBytes / sizeof(char16_t);
  } else {
    grown = static_cast<char16_t*>(std::malloc(bytes));
    if (grown == nullptr) throw std::bad_alloc();
    grownChars = wanted;
  }
  const std::size_t size = size_;
  if (size > 0) std::memcpy(grown, data_, size * sizeof(char16_t));
  Release();
  data_ = grown;
  size_ = size;
  capacity_ = grownChars;
  mapped_ = bytes >= kMapThreshold;
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
    munmap(data_, bytes);
  } else {
    std::free(data_);
  }
  data_ = nullptr;
  size_ = capacity_ = 0;
  mapped_ = false;
}

SecretBytes::SecretBytes(std::size_t size) : size_(size) {
  data_ = static_cast<std::uint8_t*>(std::calloc(size == 0 ? 1 : size, 1));
  if (data_ == nullptr) throw std::bad_alloc();
}

SecretBytes::~SecretBytes() {
  Release();
}

SecretBytes::SecretBytes(SecretBytes&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      dirty_(std::exchange(other.dirty_, 0)) {}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    dirty_ = std::exchange(other.dirty_, 0);
  }
  return *this;
}

void SecretBytes::Release() noexcept {
  if (data_ == nullptr) return;
  // Bytes past dirty_ were never written and are still zero.
  platform::SecureWipe(data_, dirty_);
  if (platform::g_freedBlockHook != nullptr) platform::g_freedBlockHook(data_, size_);
  std::free(data_);
  data_ = nullptr;
}

}  // namespace vizadavu::detail

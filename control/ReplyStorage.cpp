#include "control/ReplyStorage.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace vizadavu::detail {

namespace {

// Texts of this many bytes or more live in their own mapping; smaller ones in
// heap blocks, which the allocator reuses from one transfer to the next.
constexpr std::size_t kMapThreshold = std::size_t{128} << 10;
using platform::HugeRound;

}  // namespace

char16_t* SecretText::Extend(std::size_t count) {
  if (count > capacity_ - size_) Grow(count);
  char16_t* at = data_ + size_;
  size_ += count;
  if (mapped_ && size_ > ready_) Prefault();
  return at;
}

// A mapped text has its pages made present a step at a time ahead of the
// characters written into it, instead of faulted in one by one.
void SecretText::Prefault() noexcept {
  constexpr std::size_t kStep = platform::kPrefaultStep / sizeof(char16_t);
  const std::size_t ready = std::min(capacity_, (size_ / kStep + 1) * kStep);
  memory_->Prefault(data_ + ready_, (ready - ready_) * sizeof(char16_t));
  ready_ = ready;
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
    void* fresh = memory_->Map(newBytes);
    if (fresh == nullptr) throw std::bad_alloc();
    if (!platform::MoveMapping(data_, oldBytes, fresh)) {
      memory_->Unmap(fresh, newBytes);
      throw std::bad_alloc();
    }
    data_ = static_cast<char16_t*>(fresh);
    capacity_ = newBytes / sizeof(char16_t);
    return;
  }
  const bool map = bytes >= kMapThreshold;
  std::size_t grownBytes = map ? HugeRound(bytes) : bytes;
  auto* grown =
      static_cast<char16_t*>(map ? memory_->Map(grownBytes) : memory_->Allocate(grownBytes, false));
  if (grown == nullptr) throw std::bad_alloc();
  const std::size_t size = size_;
  if (size > 0) std::memcpy(grown, data_, size * sizeof(char16_t));
  Release();
  data_ = grown;
  size_ = size;
  capacity_ = grownBytes / sizeof(char16_t);
  mapped_ = map;
  ready_ = 0;
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
  if (mapped_) {
    memory_->Unmap(data_, bytes);
  } else {
    memory_->Free(data_);
  }
  data_ = nullptr;
  size_ = capacity_ = ready_ = 0;
  mapped_ = false;
}

SecretBytes::SecretBytes(std::size_t size, platform::Memory& memory)
    : memory_(&memory), size_(size) {
  if (size >= kMapThreshold) {
    mapBytes_ = HugeRound(size);
    data_ = static_cast<std::uint8_t*>(memory.Map(mapBytes_));
  } else {
    data_ = static_cast<std::uint8_t*>(memory.Allocate(size, true));
  }
  if (data_ == nullptr) throw std::bad_alloc();
}

SecretBytes::~SecretBytes() {
  Release();
}

void SecretBytes::Release() noexcept {
  if (data_ == nullptr) return;
  // Bytes past dirty_ were never written and are still zero.
  platform::SecureWipe(data_, dirty_);
  if (mapBytes_ > 0) {
    memory_->Unmap(data_, mapBytes_);
  } else {
    memory_->Free(data_);
  }
  data_ = nullptr;
  mapBytes_ = 0;
}

}  // namespace vizadavu::detail

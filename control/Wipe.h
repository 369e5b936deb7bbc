// The control's storage for reply data: the reply text and the byte buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/SecureMemory.h"

namespace vizadavu::detail {

// The reply text: every buffer it outgrows is wiped as it is released.
using SecretText =
    std::basic_string<char16_t, std::char_traits<char16_t>, platform::WipingAllocator<char16_t>>;

// Overwrites the text's storage (short-string buffer included) and empties it.
void WipeText(SecretText& text) noexcept;
// Same, then gives its heap block back (wiped again by the allocator).
void ReleaseText(SecretText& text) noexcept;

// A zero-filled byte buffer of fixed size. Pages never written stay untouched
// (calloc), so a large buffer costs only what is read into it; every byte that
// may have been written is wiped before the memory is released.
class SecretBytes {
 public:
  // Throws std::bad_alloc when the memory cannot be had.
  explicit SecretBytes(std::size_t size);
  ~SecretBytes();
  SecretBytes(SecretBytes&& other) noexcept;
  SecretBytes& operator=(SecretBytes&& other) noexcept;
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;

  std::size_t size() const { return size_; }
  const std::uint8_t* data() const { return data_; }
  std::uint8_t* data() { return data_; }
  // Records that the first `count` bytes now hold data: they are wiped on release.
  void NoteWritten(std::size_t count) {
    if (count > dirty_) dirty_ = count < size_ ? count : size_;
  }

 private:
  void Release() noexcept;
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t dirty_ = 0;  // bytes from the start that may hold data
};

}  // namespace vizadavu::detail

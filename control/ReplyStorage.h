// The control's storage for reply data: the reply text and the byte buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/Memory.h"
#include "platform/SecureMemory.h"

namespace vizadavu::detail {

// The reply text. It grows by appending at the end, in amortised linear time:
// small texts in heap blocks that are wiped when outgrown, large ones in an
// anonymous mapping that mremap grows in place or moves without copying, so a
// long reply never needs twice its size in memory. Everything it held is wiped
// before its memory is released. Memory comes from `memory`, one call per
// growth.
class SecretText {
 public:
  explicit SecretText(platform::Memory& memory = platform::SystemMemory()) : memory_(&memory) {}
  ~SecretText() { Release(); }
  SecretText(const SecretText&) = delete;
  SecretText& operator=(const SecretText&) = delete;

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  char16_t* data() { return data_; }
  const char16_t* data() const { return data_; }
  std::u16string_view view() const { return {data_, size_}; }

  // Adds `count` characters at the end and returns where they go. Throws
  // std::bad_alloc when the memory cannot be had; the text is then unchanged.
  char16_t* Extend(std::size_t count);
  // Wipes the characters and empties the text; the storage is kept.
  void Wipe() noexcept;
  // Wipes and gives the storage back.
  void Release() noexcept;

 private:
  void Grow(std::size_t needed);
  void Prefault() noexcept;
  platform::Memory* memory_;
  char16_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;  // characters
  std::size_t ready_ = 0;     // characters of a mapping made present ahead of the text
  bool mapped_ = false;
};

// A zero-filled byte buffer of fixed size. Pages never written stay untouched
// (calloc, or for large buffers a mapping like the reply text's), so a large
// buffer costs only what is read into it; every byte that may have been written
// is wiped before the memory is released.
class SecretBytes {
 public:
  // Throws std::bad_alloc when the memory cannot be had.
  explicit SecretBytes(std::size_t size, platform::Memory& memory = platform::SystemMemory());
  ~SecretBytes();
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;

  std::size_t size() const { return size_; }
  const std::uint8_t* data() const { return data_; }
  std::uint8_t* data() { return data_; }
  // Bytes from the start that may hold data; the rest were never written.
  std::size_t written() const { return dirty_; }
  // Records that the first `count` bytes now hold data: they are wiped on release.
  void NoteWritten(std::size_t count) {
    if (count > dirty_) dirty_ = count < size_ ? count : size_;
  }

 private:
  void Release() noexcept;
  platform::Memory* memory_;
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t dirty_ = 0;     // bytes from the start that may hold data
  std::size_t mapBytes_ = 0;  // size of its own mapping; 0 when on the heap
};

}  // namespace vizadavu::detail

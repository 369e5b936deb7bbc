#include "control/Wipe.h"

#include <cstdlib>
#include <utility>

namespace vizadavu::detail {

void WipeText(SecretText& text) noexcept {
  platform::SecureWipe(text.data(), (text.capacity() + 1) * sizeof(char16_t));
  text.clear();
}

void ReleaseText(SecretText& text) noexcept {
  WipeText(text);
  SecretText().swap(text);
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

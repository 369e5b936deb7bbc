// Wiping memory that held reply data, which is secret to the host: every block
// is overwritten before it goes back to the allocator.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace vizadavu::platform {

// Overwrites memory with zeros in a way the optimiser cannot remove.
void SecureWipe(void* data, std::size_t size) noexcept;

// An allocator whose every block is wiped before it goes back, for containers
// that hold secrets: the old blocks a growing string or vector leaves behind
// are wiped too.
template <class T>
struct WipingAllocator {
  using value_type = T;
  WipingAllocator() = default;
  template <class U>
  WipingAllocator(const WipingAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) { return std::allocator<T>{}.allocate(n); }
  void deallocate(T* p, std::size_t n) noexcept {
    SecureWipe(p, n * sizeof(T));
    std::allocator<T>{}.deallocate(p, n);
  }
  template <class U>
  bool operator==(const WipingAllocator<U>&) const noexcept {
    return true;
  }
};

// A byte string for secrets (the encoded form body). Its short-string buffer
// lives inside the object, so an object on the stack is wiped by its owner.
using SecretString = std::basic_string<char, std::char_traits<char>, WipingAllocator<char>>;

}  // namespace vizadavu::platform

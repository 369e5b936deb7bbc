// Wiping memory that held reply data, which is secret to the host: every block
// is overwritten before it goes back to the allocator.
#pragma once

#include <cstddef>
#include <memory>

namespace vizadavu::platform {

// Overwrites memory with zeros in a way the optimiser cannot remove.
void SecureWipe(void* data, std::size_t size) noexcept;

// Test hook: called with every secret block just before it is freed, after the
// wipe. Null in normal use.
using FreedBlockHook = void (*)(const void* data, std::size_t size);
extern FreedBlockHook g_freedBlockHook;

// Wipes a block about to be freed and shows it to the hook.
inline void WipeBeforeFree(void* data, std::size_t size) noexcept {
  SecureWipe(data, size);
  if (g_freedBlockHook != nullptr && data != nullptr) g_freedBlockHook(data, size);
}

template <class T>
struct WipingAllocator {
  using value_type = T;
  WipingAllocator() = default;
  template <class U>
  WipingAllocator(const WipingAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) { return std::allocator<T>{}.allocate(n); }
  void deallocate(T* p, std::size_t n) noexcept {
    WipeBeforeFree(p, n * sizeof(T));
    std::allocator<T>{}.deallocate(p, n);
  }
  template <class U>
  bool operator==(const WipingAllocator<U>&) const noexcept {
    return true;
  }
};

}  // namespace vizadavu::platform

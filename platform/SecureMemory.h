// Wiping memory that held reply data, which is secret to the host: every block
// is overwritten before it goes back to the allocator.
#pragma once

#include <cstddef>

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

}  // namespace vizadavu::platform

#include "platform/SecureMemory.h"

#include <cstring>

namespace vizadavu::platform {

void SecureWipe(void* data, std::size_t size) noexcept {
  if (data == nullptr || size == 0) return;
  std::memset(data, 0, size);
  // The barrier makes the stores observable, so they are not removed as dead.
  __asm__ __volatile__("" : : "r"(data) : "memory");
}

}  // namespace vizadavu::platform

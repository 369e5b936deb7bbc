#include "platform/Environment.h"

#include <cstdlib>

namespace vizadavu::platform {

const char* SecureVariable(const char* name) noexcept {
  return secure_getenv(name);
}

}  // namespace vizadavu::platform

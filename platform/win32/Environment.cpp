// The process environment on Windows. There is no set-user-ID or set-group-ID
// program on Windows: a process's environment is its own user's, so every
// variable is read as it is.
#include <windows.h>

#include <string>

#include "platform/Environment.h"

namespace vizadavu::platform {

// The value lives in a buffer of the calling thread, until that thread's next
// call (the process environment block has no stable storage to point into).
const char* SecureVariable(const char* name) noexcept {
  thread_local std::string value;
  try {
    value.resize(256);
    for (;;) {
      SetLastError(ERROR_SUCCESS);
      const DWORD length =
          GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
      if (length == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return nullptr;
        value.clear();
        return value.c_str();
      }
      if (length < value.size()) {
        value.resize(length);
        return value.c_str();
      }
      value.resize(length);  // the size needed, its terminator included
    }
  } catch (...) {
    return nullptr;
  }
}

}  // namespace vizadavu::platform

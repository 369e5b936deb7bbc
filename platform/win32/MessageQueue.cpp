#include "platform/win32/MessageQueue.h"

#include <windows.h>

namespace vizadavu::platform {

void ServiceMessageQueue() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != 0) {
    if (message.message == WM_QUIT) {
      // The host's own loop ends on it: leave it in the queue for that loop.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace vizadavu::platform

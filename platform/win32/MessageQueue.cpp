#include "platform/win32/MessageQueue.h"

#include <windows.h>

#include <algorithm>

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

void WaitForMessage(std::chrono::milliseconds timeout) {
  const auto ms = std::min<std::chrono::milliseconds::rep>(
      std::max<std::chrono::milliseconds::rep>(timeout.count(), 0), INFINITE - 1);
  // MWMO_INPUTAVAILABLE: also when the queue already holds what an earlier
  // look saw and left there.
  MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(ms), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

}  // namespace vizadavu::platform

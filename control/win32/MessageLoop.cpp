#include "vizadavu/win32/MessageLoop.h"

#include "platform/win32/MessageQueue.h"

namespace vizadavu::win32 {

void MessageLoop::DoEvents() {
  platform::ServiceMessageQueue();
}

bool MessageLoop::WaitForEvents(std::chrono::milliseconds timeout) {
  platform::WaitForMessage(timeout);
  return true;
}

}  // namespace vizadavu::win32

#include "vizadavu/win32/MessageLoop.h"

#include "platform/win32/MessageQueue.h"

namespace vizadavu::win32 {

void MessageLoop::DoEvents() {
  platform::ServiceMessageQueue();
}

}  // namespace vizadavu::win32

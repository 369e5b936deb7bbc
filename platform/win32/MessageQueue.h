// The calling thread's Win32 message queue, serviced the way the control's
// message loop does it on Windows.
#pragma once

#include <chrono>

namespace vizadavu::platform {

// Dispatches every waiting message; a WM_QUIT is posted again and ends the pass.
void ServiceMessageQueue();
// Sleeps until the queue holds input or a message, or `timeout` has passed.
void WaitForMessage(std::chrono::milliseconds timeout);

}  // namespace vizadavu::platform

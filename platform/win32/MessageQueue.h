// The calling thread's Win32 message queue, serviced the way the control's
// message loop does it on Windows.
#pragma once

namespace vizadavu::platform {

// Dispatches every waiting message; a WM_QUIT is posted again and ends the pass.
void ServiceMessageQueue();

}  // namespace vizadavu::platform

// The form container's message loop on Windows: the calling thread's Win32
// message queue. Installed with the Windows build only.
#pragma once

#include "vizadavu/vizADAVU.h"

namespace vizadavu::win32 {

// DoEvents takes every message waiting in the calling thread's queue
// (PeekMessage), translates and dispatches it, and returns at once when the
// queue is empty. A WM_QUIT it meets is posted again with its exit code and
// ends the pass, so that the host's own loop sees it and ends. WaitForEvents
// sleeps until input or a message arrives in the queue (MsgWaitForMultipleObjectsEx)
// or the time-out passes, without taking anything from the queue.
class VIZADAVU_EXPORT MessageLoop final : public vizadavu::MessageLoop {
 public:
  void DoEvents() override;
  bool WaitForEvents(std::chrono::milliseconds timeout) override;
};

}  // namespace vizadavu::win32

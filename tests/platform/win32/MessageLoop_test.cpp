// The Win32 message loop: every waiting message is dispatched, and a WM_QUIT is
// left for the host's own loop with its exit code; a wait ends when a message
// comes, or at its time-out.
#include "vizadavu/win32/MessageLoop.h"

#include <windows.h>
//
#include <gtest/gtest.h>

#include <thread>

namespace vizadavu::win32 {
namespace {

int gSeen = 0;
LRESULT CALLBACK Count(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_APP) ++gSeen;
  return DefWindowProcW(window, message, w, l);
}

TEST(Win32MessageLoop, DispatchesWhatWaitsAndLeavesQuitForTheHost) {
  WNDCLASSW type{};
  type.lpfnWndProc = Count;
  type.hInstance = GetModuleHandleW(nullptr);
  type.lpszClassName = L"vizadavu-test";
  ASSERT_NE(RegisterClassW(&type), 0);
  HWND window = CreateWindowW(L"vizadavu-test", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              type.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  MessageLoop loop;
  for (int i = 0; i < 3; ++i) PostMessageW(window, WM_APP, 0, 0);
  loop.DoEvents();
  EXPECT_EQ(gSeen, 3);
  MSG message;
  EXPECT_EQ(PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE), 0);  // nothing left

  // Another thread's message ends a long wait; the wait leaves it queued.
  const ULONGLONG start = GetTickCount64();
  std::thread poster([window] {
    Sleep(50);
    PostMessageW(window, WM_APP, 0, 0);
  });
  EXPECT_TRUE(loop.WaitForEvents(std::chrono::seconds(20)));
  poster.join();
  EXPECT_LT(GetTickCount64() - start, 10000u);
  loop.DoEvents();
  EXPECT_EQ(gSeen, 4);
  const ULONGLONG quiet = GetTickCount64();
  EXPECT_TRUE(loop.WaitForEvents(std::chrono::milliseconds(100)));
  EXPECT_GE(GetTickCount64() - quiet, 60u);  // nothing came: it slept

  PostMessageW(window, WM_APP, 0, 0);
  PostQuitMessage(7);
  loop.DoEvents();
  EXPECT_EQ(gSeen, 5);
  ASSERT_NE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE), 0);
  EXPECT_EQ(message.wParam, 7u);
  DestroyWindow(window);
}

}  // namespace
}  // namespace vizadavu::win32

// One request over WinINet: sending it, reading its body and the checks on the
// reply that WinINet does not make itself. Used by WinInetInternet, which owns
// the handle table; nothing here takes its lock.
#pragma once

// clang-format off
#include <windows.h>
#include <wininet.h>
// clang-format on

#include <atomic>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/ErrorCodes.h"
#include "platform/Internet.h"
#include "platform/SecureMemory.h"

namespace vizadavu::platform::wininet {

// The code of the WinINet call that just failed, as GetLastError gives it.
inline ErrorCode LastWinError() {
  const DWORD error = GetLastError();
  return error != 0 ? static_cast<ErrorCode>(error) : codes::InternalError;
}

// What an asynchronous request shares with WinINet's status callback, which
// only records the outcome of the pending call and signals the event. It lives
// until both its request and WinINet are done with it: WinINet may still write
// into its buffers after a cancelled call has returned, until it reports the
// handle closing.
class AsyncState {
 public:
  static AsyncState* Create();  // nullptr when there is no memory or no event
  void Retain() noexcept { refs_.fetch_add(1); }
  void Release() noexcept;

  HANDLE event = nullptr;
  std::atomic<DWORD> result{0};                   // dwResult of the last completion
  std::atomic<DWORD> error{0};                    // dwError of the last completion
  DWORD bytesRead = 0;                            // written by a pending InternetReadFile
  DWORD available = 0;                            // by a pending InternetQueryDataAvailable
  std::vector<char, WipingAllocator<char>> body;  // a copy for the pending send
  std::vector<std::uint8_t, WipingAllocator<std::uint8_t>> staging;  // for a pending read

 private:
  AsyncState() = default;
  ~AsyncState();
  std::atomic<int> refs_{1};
};

// The status callback of every asynchronous session of this boundary.
void CALLBACK StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                             DWORD infoLength);

// What the reply's headers say about how its body ends.
struct ReplyFraming {
  std::uint32_t statusCode = 0;
  std::optional<std::uint64_t> contentLength;  // only when it frames the body
};

// The status code and framing of the reply to a request just sent: 12152 when
// there is no status line (WinINet reports status 0 or none for an empty
// reply), for a 101 reply, and when Content-Length values differ, do not parse
// or overflow.
ErrorCode CheckReply(HINTERNET request, ReplyFraming& framing);

// A request's transfer state as the boundary keeps it between calls.
struct Exchange {
  HINTERNET handle = nullptr;
  AsyncState* async = nullptr;  // non-null for a request of an asynchronous session
  WaitCallback waitCallback;
  bool sent = false;    // the last SendRequest succeeded
  bool failed = false;  // a read failed or the body ended: later reads fail
  bool ended = false;
  ReplyFraming framing;
  std::uint64_t delivered = 0;  // body bytes handed out since the send
};

// HttpSendRequestA, waiting for its completion in asynchronous mode.
ErrorCode Send(Exchange& exchange, std::optional<std::string_view> body);

// Reads until `wanted` bytes are in `buffer` or the body ends; a body that
// ends short of its Content-Length fails with 12030.
ErrorCode Read(Exchange& exchange, std::uint8_t* buffer, std::uint32_t wanted,
               std::uint32_t& bytesRead);

}  // namespace vizadavu::platform::wininet

// The internet boundary over the system's WinINet (wininet.dll, the A calls).
//
// Behaviour worth knowing:
// - Each call is the WinINet call of the same step with the caller's
//   arguments: InternetOpenA (no proxy named, flags 0), InternetConnectA (the
//   user name and password as given: this boundary only takes empty ones),
//   HttpOpenRequestA (no referrer, no accept types, context 0),
//   HttpAddRequestHeadersA, InternetSetOptionA with a 32-bit value,
//   HttpSendRequestA with the body as the optional data, InternetReadFile,
//   InternetCloseHandle. A failed WinINet call's code is GetLastError() as it
//   comes, so the numbers are the system's own.
// - Checks WinINet does not make: a reply with no status line (WinINet reports
//   status 0 for an empty reply or a reset), a 101 reply, and Content-Length
//   values that differ, do not parse or overflow fail the send with 12152; a
//   body that ends short of its Content-Length fails the read with 12030
//   instead of ending cleanly (not for a chunked reply, nor for 1xx, 204, 304).
//   WinINet does not say whether a chunked body had its last chunk: one cut
//   short ends cleanly.
// - ReadFile calls InternetReadFile until `wanted` bytes are in or the body
//   ends. A read that fails keeps the good bytes of this call, and every later
//   read fails with 0 bytes (12019).
// - With a wait callback, the request is reopened on the session's asynchronous
//   twin (INTERNET_FLAG_ASYNC, opened on first need with the same agent and
//   access type) when it is sent, with its headers and options applied again.
//   The status callback only records the outcome of the pending call and
//   signals an event; the sending or reading thread waits on it in slices of
//   at most kWaitCallbackInterval and calls the wait callback between them.
//   When the callback returns false the request handle is closed and the call
//   fails with 12017; the request can then only be closed. A pending call reads
//   a copy of the body and reads into a buffer of its own, both wiped and kept
//   until WinINet reports the handle closing, so that a cancelled call never
//   touches the caller's memory.
// - Without a wait callback, every call is synchronous (flags 0, context 0).
// - The same checks on what a caller hands as the libcurl boundary: GET or POST
//   only (87), no control byte in the object name or server name (12005), no
//   user name or password (87), a header text of "Name: value" lines without
//   bare CR or LF and not naming Content-Length or Transfer-Encoding (87).
// - Handles are this object's own, unique in the process; a handle that is
//   unknown, closed, of the wrong kind or from another object fails with 6. A
//   send or read on a request while another one runs fails with 12019, and
//   closing it (or its connection or session) takes effect when that call
//   returns.
#pragma once

#include <memory>

#include "platform/Internet.h"
#include "platform/Memory.h"

namespace vizadavu::platform {

class WinInetInternet final : public Internet {
 public:
  WinInetInternet();
  ~WinInetInternet() override;
  WinInetInternet(const WinInetInternet&) = delete;
  WinInetInternet& operator=(const WinInetInternet&) = delete;

  Handle OpenSession(std::string_view agent, std::uint32_t accessType) override;
  Handle Connect(Handle session, std::string_view serverName, std::uint16_t port,
                 std::string_view userName, std::string_view password,
                 std::uint32_t service) override;
  Handle OpenRequest(Handle connection, std::string_view verb, std::string_view objectName,
                     std::string_view version, std::uint32_t flags) override;
  bool AddRequestHeaders(Handle request, std::string_view headers,
                         std::uint32_t modifiers) override;
  bool SetOption(Handle handle, std::uint32_t option, std::uint32_t value) override;
  bool SendRequest(Handle request, std::optional<std::string_view> body) override;
  bool ReadFile(Handle request, std::uint8_t* buffer, std::uint32_t wanted,
                std::uint32_t& bytesRead) override;
  bool SetWaitCallback(Handle request, WaitCallback callback) override;
  bool QueryInfo(Handle request, std::uint32_t infoLevel, std::uint32_t& value) override;
  bool CloseHandle(Handle handle) override;
  ErrorCode LastError() const override;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace vizadavu::platform

// The internet boundary: the step-by-step calls the transfer engine makes, with
// the numbering and error codes of the Windows internet API the control was
// designed on. Every text is in the control's code page (bytes, not UTF-8).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "platform/ErrorCodes.h"

namespace vizadavu::platform {

// An opaque handle; 0 is the null handle returned by a failed open.
using Handle = std::uintptr_t;
inline constexpr Handle kNullHandle = 0;

namespace inet {
inline constexpr std::uint32_t kOpenTypePreconfig = 0;  // system/environment proxy settings
inline constexpr std::uint32_t kOpenTypeDirect = 1;     // no proxy
inline constexpr std::uint32_t kServiceHttp = 3;

inline constexpr std::uint32_t kFlagReload = 0x80000000;
inline constexpr std::uint32_t kFlagNoCacheWrite = 0x04000000;
inline constexpr std::uint32_t kFlagSecure = 0x00800000;
inline constexpr std::uint32_t kFlagNoAutoRedirect = 0x00200000;
inline constexpr std::uint32_t kFlagIgnoreCertDateInvalid = 0x00002000;
inline constexpr std::uint32_t kFlagIgnoreCertCnInvalid = 0x00001000;

inline constexpr std::uint32_t kAddReqFlagAdd = 0x20000000;
inline constexpr std::uint32_t kAddReqFlagReplace = 0x80000000;

inline constexpr std::uint32_t kOptionConnectTimeout = 2;
inline constexpr std::uint32_t kOptionSendTimeout = 5;
inline constexpr std::uint32_t kOptionReceiveTimeout = 6;

// HttpQueryInfo's level for the status code, and the modifier asking for it as a number.
inline constexpr std::uint32_t kQueryStatusCode = 19;
inline constexpr std::uint32_t kQueryFlagNumber = 0x20000000;

// The longest a blocked call waits between two calls of its wait callback.
inline constexpr std::chrono::milliseconds kWaitCallbackInterval{20};
}  // namespace inet

// Called by a blocked SendRequest or ReadFile while it waits on the network;
// returns whether to go on. It is called from the boundary's own wait, never
// from inside a library's callback and with no lock of the boundary held, so
// it may run host code; it must not throw.
using WaitCallback = std::function<bool()>;

class Internet {
 public:
  virtual ~Internet() = default;

  // A session carries the user agent (sent as User-Agent) and the proxy policy.
  virtual Handle OpenSession(std::string_view agent, std::uint32_t accessType) = 0;
  // Prepares a connection; contacts no server (lookup and connect happen at send).
  virtual Handle Connect(Handle session, std::string_view serverName, std::uint16_t port,
                         std::string_view userName, std::string_view password,
                         std::uint32_t service) = 0;
  virtual Handle OpenRequest(Handle connection, std::string_view verb, std::string_view objectName,
                             std::string_view version, std::uint32_t flags) = 0;
  // Each "Name: value" line (CR LF separated) replaces a header of the same name
  // or is added, as the modifiers say.
  virtual bool AddRequestHeaders(Handle request, std::string_view headers,
                                 std::uint32_t modifiers) = 0;
  virtual bool SetOption(Handle request, std::uint32_t option, std::uint32_t value) = 0;
  // Sends the request (with the body when given) and returns once the reply's
  // headers have arrived.
  virtual bool SendRequest(Handle request, std::optional<std::string_view> body) = 0;
  // Sets bytesRead to 0 first, then blocks until `wanted` bytes are in `buffer`
  // or the body ends (TRUE; 0 bytes once the body is over). A read that fails
  // returns FALSE with bytesRead = the good bytes that arrived in this call
  // before the failure (often 0), so nothing that arrived is lost; every later
  // read fails with 0 bytes. A boundary may also keep bytesRead at the count so
  // far while it waits, so that the wait callback can show progress.
  virtual bool ReadFile(Handle request, std::uint8_t* buffer, std::uint32_t wanted,
                        std::uint32_t& bytesRead) = 0;
  // While SendRequest or ReadFile on `request` waits, `callback` is called at
  // least every kWaitCallbackInterval; when it returns false the call fails with
  // codes::Cancelled (a read keeps the bytes it gathered). An empty callback
  // removes it. Time-outs are unchanged.
  virtual bool SetWaitCallback(Handle request, WaitCallback callback) = 0;
  // HttpQueryInfo for numbers: with kQueryStatusCode | kQueryFlagNumber, the
  // status code of the final reply to the last SendRequest; fails with
  // codes::HeaderNotFound when no reply status line came in.
  virtual bool QueryInfo(Handle request, std::uint32_t infoLevel, std::uint32_t& value) = 0;
  // Closing a request also ends its transfer; closing the null handle fails harmlessly.
  virtual bool CloseHandle(Handle handle) = 0;
  // The error code of the most recent failed call on this object (see
  // platform/ErrorCodes.h).
  virtual ErrorCode LastError() const = 0;
};

}  // namespace vizadavu::platform

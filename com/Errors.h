// How a failure of the control reaches a COM host: an HRESULT that Visual
// Basic and VBScript map to their run-time error numbers, and an IErrorInfo
// (source "vizADAVU.Control", the text) set with SetErrorInfo, so that
// Err.Description shows what went wrong. No C++ exception leaves this DLL.
#pragma once

#include <windows.h>

#include <string_view>

namespace vizadavu::com {

// Visual Basic's run-time errors 9, 6 and 5 (FACILITY_CONTROL).
inline constexpr HRESULT kSubscriptOutOfRange = static_cast<HRESULT>(0x800A0009);
inline constexpr HRESULT kOverflow = static_cast<HRESULT>(0x800A0006);
inline constexpr HRESULT kInvalidArgument = static_cast<HRESULT>(0x800A0005);
// A member that may not run while a transfer runs (Action, Clear) called from
// an event handler: vbObjectError + 513, the first code an object's own
// errors may take.
inline constexpr HRESULT kTransferRunning = static_cast<HRESULT>(0x80040201);

// Sets the thread's error info to `description` and returns `hr`.
HRESULT Fail(HRESULT hr, std::string_view description) noexcept;

// The exception being handled, as its HRESULT (with its error info set).
// Call only inside a catch block.
HRESULT FromCurrentException() noexcept;

// Runs `body`, turning every exception into its HRESULT.
template <class Body>
HRESULT Guarded(Body&& body) noexcept {
  try {
    body();
    return S_OK;
  } catch (...) {
    return FromCurrentException();
  }
}

}  // namespace vizadavu::com

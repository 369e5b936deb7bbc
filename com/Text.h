// Text between BSTR and the control's UTF-16 Text, unconverted. Form values
// and replies are secret: every copy this DLL makes for the way is wiped
// before it is freed (the BSTR handed out is the caller's).
#pragma once

#include <oleauto.h>
#include <windows.h>

#include <new>
#include <string>
#include <string_view>

#include "vizadavu/vizADAVU.h"

namespace vizadavu::com {

// A Text wiped when it goes.
struct WipedText {
  Text text;
  WipedText() = default;
  explicit WipedText(Text t) : text(std::move(t)) {}
  ~WipedText() { SecureZeroMemory(text.data(), text.size() * sizeof(char16_t)); }
  WipedText(const WipedText&) = delete;
  WipedText& operator=(const WipedText&) = delete;
};

// A BSTR's characters (a null BSTR is empty).
inline std::u16string_view View(BSTR text) noexcept {
  if (text == nullptr) return {};
  return {reinterpret_cast<const char16_t*>(text), SysStringLen(text)};
}

// A new BSTR holding `text`; throws std::bad_alloc when there is no room.
inline BSTR NewBstr(std::u16string_view text) {
  // A BSTR's length prefix counts bytes in 32 bits.
  if (text.size() > 0x7FFFFFF0u / sizeof(wchar_t)) throw std::bad_alloc();
  BSTR result = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                                  static_cast<UINT>(text.size()));
  if (result == nullptr) throw std::bad_alloc();
  return result;
}

}  // namespace vizadavu::com

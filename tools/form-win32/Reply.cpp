// How the window shows a reply: as text and as bytes.
#include <windows.h>

#include <algorithm>
#include <cwchar>

#include "tools/form-win32/FormWindow.h"

namespace vizadavu::form {

std::wstring ReplyText(std::u16string_view reply) {
  std::wstring out;
  out.reserve(reply.size() + reply.size() / 16);
  char16_t previous = 0;
  for (const char16_t c : reply) {
    if (c == u'\n' && previous != u'\r') out += L'\r';
    out += c == 0 ? L'\x2400' : static_cast<wchar_t>(c);
    previous = c;
  }
  return out;
}

std::wstring HexDump(const std::string& bytes, std::size_t maxBytes) {
  static constexpr wchar_t kDigits[] = L"0123456789abcdef";
  const std::size_t shown = std::min(bytes.size(), maxBytes);
  std::wstring out;
  out.reserve((shown / 16 + 2) * 80);
  for (std::size_t line = 0; line < shown; line += 16) {
    wchar_t offset[16];
    std::swprintf(offset, 16, L"%08zx  ", line);
    out += offset;
    std::wstring ascii;
    for (std::size_t i = line; i < line + 16; ++i) {
      if (i == line + 8) out += L' ';
      if (i < shown) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        out += kDigits[byte >> 4];
        out += kDigits[byte & 0xF];
        out += L' ';
        ascii += (byte >= 0x20 && byte < 0x7F) ? static_cast<wchar_t>(byte) : L'.';
      } else {
        out += L"   ";
      }
    }
    out += L'|';
    out += ascii;
    out += L"|\r\n";
    Wipe(ascii);
  }
  if (bytes.size() > shown) {
    out += L"... " + std::to_wstring(bytes.size() - shown) + L" more bytes not shown\r\n";
  }
  return out;
}

}  // namespace vizadavu::form

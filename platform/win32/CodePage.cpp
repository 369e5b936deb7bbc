// The code page on Windows: the system's ANSI code page (CP_ACP), as the
// system converts it, without best fit. Both directions are tables made on
// first use, so a conversion never calls the system per character.
//
// - A byte that is a character by itself is what MultiByteToWideChar makes of
//   it; a lead byte of a two-byte character, or a byte the code page rejects,
//   is the stand-in U+DC00 + byte (see CodePage.h).
// - A character has a code only when WideCharToMultiByte with
//   WC_NO_BEST_FIT_CHARS gives one without the default character and that code
//   converts back to the same character: a look-alike (U+FF02 as '"', U+0100 as
//   "A") is never sent. Anything else is '?'.
// - An ANSI code page whose characters take more than two bytes (UTF-8, when
//   Windows is set to use it for non-Unicode programs) cannot give one code
//   per character: Windows-1252 is used then, as on Linux.
#include <windows.h>

#include <algorithm>
#include <array>
#include <memory>

#include "platform/CodePage.h"

namespace vizadavu::platform {
namespace {

constexpr char16_t kStandIn = 0xDC00;
constexpr std::uint16_t kNoCode = 0xFFFF;  // no code is 0xFFFF: lead bytes end below 0xFF

struct Tables {
  UINT codePage = CP_ACP;
  unsigned number = 0;
  std::size_t maxBytes = 1;
  std::array<char16_t, 256> toChar{};
  std::unique_ptr<std::uint16_t[]> toCode;  // 0x10000 entries

  Tables() {
    CPINFO info{};
    if (!GetCPInfo(CP_ACP, &info) || info.MaxCharSize > 2) {
      codePage = 1252;
      GetCPInfo(codePage, &info);
    }
    number = codePage == CP_ACP ? GetACP() : codePage;
    maxBytes = info.MaxCharSize == 2 ? 2 : 1;
    for (unsigned b = 0; b < 256; ++b) {
      const char byte = static_cast<char>(b);
      wchar_t c = 0;
      const bool whole = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, &byte, 1, &c, 1) == 1;
      toChar[b] = whole ? static_cast<char16_t>(c) : static_cast<char16_t>(kStandIn + b);
    }
    toCode = std::make_unique<std::uint16_t[]>(0x10000);
    for (unsigned c = 0; c < 0x10000; ++c) toCode[c] = Code(static_cast<wchar_t>(c));
  }

  std::uint16_t Code(wchar_t c) const {
    if ((c & 0xF800) == 0xD800) return kNoCode;  // a surrogate is never a character alone
    char bytes[2];
    BOOL usedDefault = FALSE;
    const int n =
        WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, &c, 1, bytes, 2, nullptr, &usedDefault);
    if (n < 1 || usedDefault) return kNoCode;
    wchar_t back = 0;
    if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, n, &back, 1) != 1 || back != c) {
      return kNoCode;
    }
    const auto first = static_cast<std::uint8_t>(bytes[0]);
    return n == 1 ? first
                  : static_cast<std::uint16_t>(first << 8 | static_cast<std::uint8_t>(bytes[1]));
  }
};

const Tables& Get() {
  static const Tables tables;
  return tables;
}

}  // namespace

unsigned CodePageNumber() {
  return Get().number;
}

std::size_t MaxCharBytes() {
  return Get().maxBytes;
}

char16_t AnsiToChar(std::uint8_t byte) {
  return Get().toChar[byte];
}

bool IsLeadByte(std::uint8_t byte) {
  return Get().maxBytes == 2 && IsDBCSLeadByteEx(Get().codePage, byte);
}

std::u16string AnsiToCharacters(std::string_view bytes) {
  const Tables& tables = Get();
  std::u16string text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<std::uint8_t>(bytes[i]);
    wchar_t c = 0;
    if (i + 1 < bytes.size() && IsLeadByte(byte) &&
        MultiByteToWideChar(tables.codePage, MB_ERR_INVALID_CHARS, bytes.data() + i, 2, &c, 1) ==
            1) {
      text += static_cast<char16_t>(c);
      ++i;
    } else {
      text += tables.toChar[byte];
    }
  }
  return text;
}

std::uint16_t CharToAnsi(char16_t c, bool& ok) {
  const std::uint16_t code = Get().toCode[c];
  ok = code != kNoCode;
  return ok ? code : static_cast<std::uint16_t>('?');
}

std::size_t CharsToAnsi(const char16_t* text, std::size_t count, std::uint8_t* out) {
  const std::uint16_t* const codes = Get().toCode.get();
  std::uint8_t* const start = out;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint16_t code = codes[text[i]];
    if (code == kNoCode) {
      *out++ = '?';
    } else if (code > 0xFF) {
      *out++ = static_cast<std::uint8_t>(code >> 8);
      *out++ = static_cast<std::uint8_t>(code & 0xFF);
    } else {
      *out++ = static_cast<std::uint8_t>(code);
    }
  }
  return static_cast<std::size_t>(out - start);
}

void AnsiToChars(const std::uint8_t* bytes, std::size_t count, char16_t* out) {
  const std::array<char16_t, 256>& table = Get().toChar;
  for (std::size_t i = 0; i < count; ++i) out[i] = table[bytes[i]];
}

}  // namespace vizadavu::platform

// The code page between the control's 16-bit text and the bytes it sends and
// receives: Windows-1252 on Linux, the system's ANSI code page on Windows.
//
// In Windows-1252 the five bytes the code page leaves undefined map to the C1
// controls of the same value, so bytes -> text -> bytes is lossless for every
// byte. In a code page with two-byte characters (932, 936, 949, 950) a
// character's code is a 16-bit value with the lead byte in its high half, and a
// byte that is no character by itself (a lead byte) becomes the unpaired low
// surrogate U+DC00 + byte: no text has that code, so the byte is neither lost
// nor mistaken for a character; narrowed again it is "?".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vizadavu::platform {

// The code page's number (1252, 932, ...).
unsigned CodePageNumber();

// The most bytes one character takes: 1, or 2 in a code page with two-byte
// characters.
std::size_t MaxCharBytes();

// The character of one byte.
char16_t AnsiToChar(std::uint8_t byte);

// Whether `byte` begins a two-byte character (never in a single-byte code page).
bool IsLeadByte(std::uint8_t byte);

// The characters of `bytes`: a lead byte and the byte after it are one
// character; a byte that is none (a lead byte at the end, a pair the code page
// does not define) is what AnsiToChar makes of it.
std::u16string AnsiToCharacters(std::string_view bytes);

// The code of `c` (above 0xFF for a two-byte character), or '?' when the code
// page has none (ok = false then). A character the code page would only give
// a look-alike for ("best fit": U+FF02 as '"') has none.
std::uint16_t CharToAnsi(char16_t c, bool& ok);
inline std::uint16_t CharToAnsi(char16_t c) {
  bool ok;
  return CharToAnsi(c, ok);
}

// A character outside the Basic Multilingual Plane is a high surrogate followed
// by a low one; no code page here has a code for it, so the pair is one "?".
// Returns how many 16-bit units the character starting at text[i] takes: 2 for
// a surrogate pair, else 1 (an unpaired surrogate is a character of its own).
inline std::size_t CharUnits(const char16_t* text, std::size_t i, std::size_t size) {
  return (text[i] & 0xFC00) == 0xD800 && i + 1 < size && (text[i + 1] & 0xFC00) == 0xDC00 ? 2 : 1;
}

// Writes one character per byte (AnsiToChar of each). For Windows-1252, where
// the processor has SSSE3, sixteen bytes at a time go through vector table
// lookups; elsewhere one table load per byte. Neither branches on the data.
void AnsiToChars(const std::uint8_t* bytes, std::size_t count, char16_t* out);

// The reverse, the bytes of each character's code, lead byte first: a
// character the code page has no code for becomes '?' (a surrogate pair gives
// two, one per unit; use CharUnits where that matters). `out` has room for
// MaxCharBytes() per character; returns the bytes written. A lookup table
// covers every character a code has, so narrowing costs no search.
std::size_t CharsToAnsi(const char16_t* text, std::size_t count, std::uint8_t* out);

// Appends one character per byte to a std::u16string.
inline void AppendAnsiAsText(std::u16string& out, const std::uint8_t* bytes, std::size_t count) {
  const std::size_t start = out.size();
  out.resize(start + count);
  AnsiToChars(bytes, count, out.data() + start);
}

}  // namespace vizadavu::platform

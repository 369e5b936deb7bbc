// Windows-1252, the control's single-byte code page. The five bytes the code
// page leaves undefined map to the C1 controls of the same value, so
// bytes -> text -> bytes is lossless for every byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vizadavu::platform {

extern const std::array<char16_t, 256> kAnsiToChar;

inline char16_t AnsiToChar(std::uint8_t byte) {
  return kAnsiToChar[byte];
}

// The code of `c`, or '?' when the code page has none (ok = false then).
std::uint8_t CharToAnsi(char16_t c, bool& ok);
inline std::uint8_t CharToAnsi(char16_t c) {
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

// Writes one character per byte. Where the processor has SSSE3, sixteen bytes
// at a time go through vector table lookups; elsewhere one table load per byte.
// Neither branches on the data.
void AnsiToChars(const std::uint8_t* bytes, std::size_t count, char16_t* out);

// The reverse, one byte per character: a character the code page has no code
// for becomes '?' (a surrogate pair gives two, one per unit; use CharUnits
// where that matters). A lookup table covers every character a code has, so
// narrowing text that came from bytes costs no search.
void CharsToAnsi(const char16_t* text, std::size_t count, std::uint8_t* out);

// Appends one character per byte to a std::u16string.
inline void AppendAnsiAsText(std::u16string& out, const std::uint8_t* bytes, std::size_t count) {
  const std::size_t start = out.size();
  out.resize(start + count);
  AnsiToChars(bytes, count, out.data() + start);
}

}  // namespace vizadavu::platform

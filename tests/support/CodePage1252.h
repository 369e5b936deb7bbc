// Windows-1252 as the tests know it, independent of the library's code page: the
// oracle for what a server received and what the control gives back as text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vizadavu::test {

// Windows-1252 as published, 0x80 .. 0x9F; the five bytes it leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the C1 control of the same value.
inline constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

inline char16_t Cp1252ToChar(std::uint8_t byte) {
  return byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : static_cast<char16_t>(byte);
}

// The byte for c, or '?' when the code page has none.
inline char CharToCp1252(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] == c) return static_cast<char>(0x80 + i);
  }
  return '?';
}

// True when the code page has a byte for c.
inline bool HasCp1252Code(char16_t c) {
  return c == u'?' || CharToCp1252(c) != '?';
}

// What a character becomes after a trip through the code page.
inline char16_t ThroughCp1252(char16_t c) {
  return HasCp1252Code(c) ? c : u'?';
}

inline std::u16string Cp1252ToText(std::string_view bytes) {
  std::u16string text;
  for (char b : bytes) text.push_back(Cp1252ToChar(static_cast<std::uint8_t>(b)));
  return text;
}

inline std::string TextToCp1252(std::u16string_view text) {
  std::string bytes;
  for (char16_t c : text) bytes.push_back(CharToCp1252(c));
  return bytes;
}

// Form fields as decoded byte strings (see loopback::DecodeFormBytes), read as text.
inline std::vector<std::pair<std::u16string, std::u16string>> Cp1252Fields(
    const std::vector<std::pair<std::string, std::string>>& fields) {
  std::vector<std::pair<std::u16string, std::u16string>> text;
  for (const auto& [name, value] : fields)
    text.emplace_back(Cp1252ToText(name), Cp1252ToText(value));
  return text;
}

}  // namespace vizadavu::test

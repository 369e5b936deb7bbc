// Helpers shared by the fuzz targets: turning input bytes into text, the tests'
// own Windows-1252 table to check the library against, and the check
// that stops the run with a message when an invariant fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <type_traits>

#include "tests/support/CodePage1252.h"

namespace vizadavu::fuzz {

// Reports which invariant failed and aborts, so libFuzzer (or the replay
// program) records the input as a crash. Only the invariant is printed, never
// reply data.
[[noreturn]] inline void Fail(const char* target, const char* what) {
  std::fprintf(stderr, "%s: invariant violated: %s\n", target, what);
  std::fflush(stderr);
  std::abort();
}

#define FUZZ_CHECK(cond)                                 \
  do {                                                   \
    if (!(cond)) ::vizadavu::fuzz::Fail(kTarget, #cond); \
  } while (false)

// Bytes to 16-bit text, keeping seed files readable: a byte other than 0xFF is
// the character of the same value (U+0000 .. U+00FE); 0xFF followed by two bytes
// is the character with that big-endian value, so every 16-bit value (lone
// surrogates included) is reachable. A 0xFF without two bytes after it is U+00FF.
inline std::u16string TextFromBytes(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  text.reserve(size);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFF && i + 2 < size) {
      text.push_back(static_cast<char16_t>((data[i + 1] << 8) | data[i + 2]));
      i += 2;
    } else {
      text.push_back(static_cast<char16_t>(data[i]));
    }
  }
  return text;
}

using test::Cp1252ToChar;
using test::HasCp1252Code;
using test::ThroughCp1252;

// The characters of 16-bit text: a high surrogate followed by a low one is one
// character (outside the Basic Multilingual Plane, so never in the code page);
// any other unit, an unpaired surrogate included, is a character of its own.
// Each is returned as its first unit.
inline std::u16string Characters(const std::u16string& text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool high = text[i] >= 0xD800 && text[i] <= 0xDBFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      out.push_back(text[i++]);
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

// What a text becomes after a trip through the code page: one character per
// character, "?" for each that has no code.
inline std::u16string ThroughCp1252(const std::u16string& text) {
  std::u16string out = Characters(text);
  for (char16_t& c : out) c = ThroughCp1252(c);
  return out;
}

// The characters URL encoding lets through unchanged.
inline bool IsPassThrough(char16_t c) {
  if ((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')) {
    return true;
  }
  for (char16_t p : std::u16string_view(u":/.?=_-$(){}~&")) {
    if (p == c) return true;
  }
  return false;
}

inline int UpperHexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// One unit of URL-encoded text, decoded.
struct DecodedUnit {
  char16_t c;
  enum Kind { kLiteral, kPlus, kEscape } kind;
};

// Decodes URL-encoded ASCII into units; false when the text holds anything but
// pass-through characters (plus "&" and "=" when allowSeparators), "+" and a
// well-formed upper-case "%XX".
template <class String, class Out>
bool DecodeUrlEncoded(const String& encoded, bool allowSeparators, Out& out) {
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    using Unit = std::make_unsigned_t<typename String::value_type>;
    const auto c = static_cast<char16_t>(static_cast<Unit>(encoded[i]));
    if (c == u'+') {
      out.push_back({u' ', DecodedUnit::kPlus});
    } else if (c == u'%') {
      if (i + 2 >= encoded.size()) return false;
      const int hi = UpperHexValue(static_cast<char16_t>(static_cast<Unit>(encoded[i + 1])));
      const int lo = UpperHexValue(static_cast<char16_t>(static_cast<Unit>(encoded[i + 2])));
      if (hi < 0 || lo < 0) return false;
      out.push_back({Cp1252ToChar(static_cast<std::uint8_t>(hi * 16 + lo)), DecodedUnit::kEscape});
      i += 2;
    } else if (IsPassThrough(c) && (allowSeparators || (c != u'&' && c != u'='))) {
      out.push_back({c, DecodedUnit::kLiteral});
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace vizadavu::fuzz

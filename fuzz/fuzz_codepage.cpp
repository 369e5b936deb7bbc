// The text conversions on arbitrary input:
// - bytes -> AnsiToText -> TextToAnsi is the identity, one character per byte,
//   each the Windows-1252 character of its byte;
// - Utf8ToText never fails; on valid UTF-8 TextToUtf8 gives the bytes back, on
//   invalid UTF-8 the text holds U+FFFD; its result never holds a lone surrogate;
// - TextToUtf8 always gives valid UTF-8, and Utf8ToText of it gives the text
//   back with every unpaired surrogate as U+FFFD (so, without one, the text).
// The bytes are used as they are; the text is the input read as pairs of bytes
// (little-endian), so every 16-bit sequence is reachable.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "vizadavu/vizADAVU.h"

namespace {

constexpr const char* kTarget = "fuzz_codepage";

bool IsHighSurrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

// Well-formed UTF-8 as RFC 3629 defines it (no overlongs, no surrogates, at
// most U+10FFFF).
bool IsValidUtf8(std::string_view s) {
  std::size_t i = 0;
  auto at = [&s](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  auto cont = [&](std::size_t k, unsigned char lo = 0x80, unsigned char hi = 0xBF) {
    return k < s.size() && at(k) >= lo && at(k) <= hi;
  };
  while (i < s.size()) {
    const unsigned char b = at(i);
    if (b < 0x80) {
      i += 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
      if (!cont(i + 1)) return false;
      i += 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      const unsigned char lo = b == 0xE0 ? 0xA0 : 0x80;
      const unsigned char hi = b == 0xED ? 0x9F : 0xBF;
      if (!cont(i + 1, lo, hi) || !cont(i + 2)) return false;
      i += 3;
    } else if (b >= 0xF0 && b <= 0xF4) {
      const unsigned char lo = b == 0xF0 ? 0x90 : 0x80;
      const unsigned char hi = b == 0xF4 ? 0x8F : 0xBF;
      if (!cont(i + 1, lo, hi) || !cont(i + 2) || !cont(i + 3)) return false;
      i += 4;
    } else {
      return false;
    }
  }
  return true;
}

// The text with every unpaired surrogate replaced by U+FFFD.
std::u16string PairedOnly(const std::u16string& text) {
  std::u16string out = text;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (IsHighSurrogate(out[i]) && i + 1 < out.size() && IsLowSurrogate(out[i + 1])) {
      ++i;
    } else if (IsHighSurrogate(out[i]) || IsLowSurrogate(out[i])) {
      out[i] = 0xFFFD;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  // The code page.
  const std::u16string ansi = vizadavu::AnsiToText(bytes);
  FUZZ_CHECK(ansi.size() == bytes.size());
  for (std::size_t i = 0; i < size; ++i)
    FUZZ_CHECK(ansi[i] == vizadavu::fuzz::Cp1252ToChar(data[i]));
  FUZZ_CHECK(vizadavu::TextToAnsi(ansi) == bytes);

  // UTF-8 to text and back.
  const std::u16string fromUtf8 = vizadavu::Utf8ToText(bytes);
  FUZZ_CHECK(PairedOnly(fromUtf8) == fromUtf8);
  if (IsValidUtf8(bytes)) {
    FUZZ_CHECK(vizadavu::TextToUtf8(fromUtf8) == bytes);
  } else {
    FUZZ_CHECK(fromUtf8.find(u'\uFFFD') != std::u16string::npos);
  }

  // Text to UTF-8 and back.
  std::u16string text;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  const std::string utf8 = vizadavu::TextToUtf8(text);
  FUZZ_CHECK(IsValidUtf8(utf8));
  FUZZ_CHECK(vizadavu::Utf8ToText(utf8) == PairedOnly(text));
  // Through the code page, a character without a code becomes one "?" (a
  // surrogate pair is one character).
  const std::string narrowed = vizadavu::TextToAnsi(text);
  const std::u16string expected = vizadavu::fuzz::ThroughCp1252(text);
  FUZZ_CHECK(narrowed.size() == expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const auto code = static_cast<std::uint8_t>(narrowed[i]);
    FUZZ_CHECK(vizadavu::fuzz::Cp1252ToChar(code) == expected[i]);
  }
  return 0;
}

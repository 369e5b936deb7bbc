#include "platform/CodePage.h"

#include <algorithm>
#include <array>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace vizadavu::platform {
namespace {

// 0x80..0x9F of Windows-1252; the five undefined bytes map to the C1 control
// of the same value so that every byte survives a round trip.
constexpr char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr std::array<char16_t, 256> MakeTable() {
  std::array<char16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    table[i] = (i >= 0x80 && i < 0xA0) ? kHigh[i - 0x80] : static_cast<char16_t>(i);
  }
  return table;
}

const std::array<char16_t, 256> kAnsiToChar = MakeTable();

}  // namespace

unsigned CodePageNumber() {
  return 1252;
}

std::size_t MaxCharBytes() {
  return 1;
}

char16_t AnsiToChar(std::uint8_t byte) {
  return kAnsiToChar[byte];
}

bool IsLeadByte(std::uint8_t) {
  return false;
}

std::u16string AnsiToCharacters(std::string_view bytes) {
  std::u16string text;
  AppendAnsiAsText(text, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return text;
}

std::uint16_t CharToAnsi(char16_t c, bool& ok) {
  ok = true;
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<std::uint8_t>(c);
  const auto* hit = std::find(std::begin(kHigh), std::end(kHigh), c);
  if (hit != std::end(kHigh)) return static_cast<std::uint8_t>(0x80 + (hit - std::begin(kHigh)));
  ok = false;
  return '?';
}

namespace {

// Byte of every character below kReverseSize that has a code, '?' otherwise
// (U+2122 is the highest character of the code page).
constexpr std::size_t kReverseSize = 0x2200;
struct ReverseTable {
  std::uint8_t bytes[kReverseSize];
  ReverseTable() {
    std::fill(std::begin(bytes), std::end(bytes), static_cast<std::uint8_t>('?'));
    for (int b = 255; b >= 0; --b)
      bytes[kAnsiToChar[static_cast<std::size_t>(b)]] = static_cast<std::uint8_t>(b);
  }
};

}  // namespace

std::size_t CharsToAnsi(const char16_t* text, std::size_t count, std::uint8_t* out) {
  static const ReverseTable table;
  for (std::size_t i = 0; i < count; ++i) {
    const char16_t c = text[i];
    out[i] = c < kReverseSize ? table.bytes[c] : static_cast<std::uint8_t>('?');
  }
  return count;
}

namespace {

void AnsiToCharsScalar(const std::uint8_t* bytes, std::size_t count, char16_t* out) {
  for (std::size_t i = 0; i < count; ++i) out[i] = kAnsiToChar[bytes[i]];
}

#if defined(__x86_64__)
// The characters of 0x80..0x9F split into low and high bytes, in two halves of
// sixteen for the 16-entry byte shuffle.
struct HighTables {
  alignas(16) std::uint8_t lo[2][16];
  alignas(16) std::uint8_t hi[2][16];
};

constexpr HighTables MakeHighTables() {
  HighTables t{};
  for (int k = 0; k < 32; ++k) {
    t.lo[k / 16][k % 16] = static_cast<std::uint8_t>(kHigh[k] & 0xFF);
    t.hi[k / 16][k % 16] = static_cast<std::uint8_t>(kHigh[k] >> 8);
  }
  return t;
}
constexpr HighTables kHighTables = MakeHighTables();

__attribute__((target("ssse3"))) __m128i Select(__m128i mask, __m128i ifSet, __m128i ifClear) {
  return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear));
}

__attribute__((target("ssse3"))) void AnsiToCharsSsse3(const std::uint8_t* bytes, std::size_t count,
                                                       char16_t* out) {
  const auto load = [](const std::uint8_t* p) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(p));
  };
  const __m128i lo0 = load(kHighTables.lo[0]), lo1 = load(kHighTables.lo[1]);
  const __m128i hi0 = load(kHighTables.hi[0]), hi1 = load(kHighTables.hi[1]);
  const __m128i zero = _mm_setzero_si128();
  const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
  std::size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
    // b ^ 0x80, as a signed byte, lies in 0..31 exactly for b in 0x80..0x9F.
    const __m128i x = _mm_xor_si128(v, flip);
    const __m128i c1 =
        _mm_andnot_si128(_mm_cmplt_epi8(x, zero), _mm_cmplt_epi8(x, _mm_set1_epi8(32)));
    const __m128i index = _mm_and_si128(x, _mm_set1_epi8(0x0F));
    const __m128i upper = _mm_cmpgt_epi8(x, _mm_set1_epi8(15));
    const __m128i lo = Select(upper, _mm_shuffle_epi8(lo1, index), _mm_shuffle_epi8(lo0, index));
    const __m128i hi = Select(upper, _mm_shuffle_epi8(hi1, index), _mm_shuffle_epi8(hi0, index));
    const __m128i low = Select(c1, lo, v);
    const __m128i high = _mm_and_si128(c1, hi);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(low, high));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(low, high));
  }
  AnsiToCharsScalar(bytes + i, count - i, out + i);
}

// With AVX-512BW the 32 characters of 0x80..0x9F fit one register of 16-bit
// lanes: each byte is widened, and those in that range are replaced by a
// 16-bit permute, 32 bytes at a time; the tail goes sixteen at a time.
__attribute__((target("avx512bw"))) void AnsiToCharsAvx512(const std::uint8_t* bytes,
                                                           std::size_t count, char16_t* out) {
  const __m512i table = _mm512_loadu_si512(kHigh);
  const __m512i first = _mm512_set1_epi16(0x80);
  const __m512i span = _mm512_set1_epi16(32);
  std::size_t i = 0;
  for (; i + 32 <= count; i += 32) {
    const __m512i wide =
        _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i)));
    const __m512i offset = _mm512_sub_epi16(wide, first);
    const __mmask32 high = _mm512_cmplt_epu16_mask(offset, span);
    const __m512i mapped = _mm512_permutexvar_epi16(offset, table);  // low 5 bits index
    _mm512_storeu_si512(out + i, _mm512_mask_blend_epi16(high, wide, mapped));
  }
  AnsiToCharsSsse3(bytes + i, count - i, out + i);
}
#endif

using Converter = void (*)(const std::uint8_t*, std::size_t, char16_t*);

Converter ChooseConverter() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512bw")) return AnsiToCharsAvx512;
  if (__builtin_cpu_supports("ssse3")) return AnsiToCharsSsse3;
#endif
  return AnsiToCharsScalar;
}

}  // namespace

void AnsiToChars(const std::uint8_t* bytes, std::size_t count, char16_t* out) {
  static const Converter convert = ChooseConverter();
  convert(bytes, count, out);
}

}  // namespace vizadavu::platform

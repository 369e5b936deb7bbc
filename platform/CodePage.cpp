#include "platform/CodePage.h"

#include <algorithm>

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

}  // namespace

const std::array<char16_t, 256> kAnsiToChar = MakeTable();

std::uint8_t CharToAnsi(char16_t c, bool& ok) {
  ok = true;
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<std::uint8_t>(c);
  const auto* hit = std::find(std::begin(kHigh), std::end(kHigh), c);
  if (hit != std::end(kHigh)) return static_cast<std::uint8_t>(0x80 + (hit - std::begin(kHigh)));
  ok = false;
  return '?';
}

}  // namespace vizadavu::platform

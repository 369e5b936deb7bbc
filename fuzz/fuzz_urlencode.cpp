// URLEncode on arbitrary text: the result is ASCII made only of pass-through
// characters, "+" and upper-case "%XX"; decoded unit by unit it gives back the
// input, one unit per character (a surrogate pair is one), with every
// character the code page lacks as "?", a space always as
// "+", a pass-through character always as itself and anything else escaped.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "control/Testing.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Services.h"
#include "tests/support/FakeInternet.h"
#include "vizadavu/vizADAVU.h"

namespace {

constexpr const char* kTarget = "fuzz_urlencode";

const vizadavu::vizADAVU& Control() {
  // A fake internet boundary, so the control never starts libcurl.
  static vizadavu::test::FakeInternet internet;
  static const vizadavu::vizADAVU control = vizadavu::detail::Testing::Make(
      nullptr, nullptr, vizadavu::platform::Services{&internet, nullptr, nullptr});
  return control;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using vizadavu::fuzz::DecodedUnit;
  const std::u16string raw = vizadavu::fuzz::TextFromBytes(data, size);
  const std::u16string encoded = Control().URLEncode(raw);

  std::vector<DecodedUnit> units;
  FUZZ_CHECK(vizadavu::fuzz::DecodeUrlEncoded(encoded, true, units));
  // One unit per character: a surrogate pair is one.
  const std::u16string chars = vizadavu::fuzz::Characters(raw);
  FUZZ_CHECK(units.size() == chars.size());
  for (std::size_t i = 0; i < chars.size(); ++i) {
    const char16_t c = chars[i];
    const DecodedUnit& unit = units[i];
    FUZZ_CHECK(unit.c == vizadavu::fuzz::ThroughCp1252(c));
    if (c == u' ') {
      FUZZ_CHECK(unit.kind == DecodedUnit::kPlus);
    } else if (vizadavu::fuzz::IsPassThrough(c)) {
      FUZZ_CHECK(unit.kind == DecodedUnit::kLiteral);
    } else {
      FUZZ_CHECK(unit.kind == DecodedUnit::kEscape);
    }
  }
  return 0;
}

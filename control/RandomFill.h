// Random overwrites for Clear. The platform generator is reseeded from the
// clock once per Clear, the first time there is something to overwrite, and
// gives one draw per block of kRandomBlock values. Each draw keys a splitmix64
// sequence that fills its block eight values per step, so the overwrite runs at
// memory speed with no call and no clock read per value.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Clock.h"
#include "platform/Random.h"

namespace vizadavu::detail {

// Values per draw of the platform generator.
inline constexpr std::size_t kRandomBlock = std::size_t{1} << 16;

class RandomFiller {
 public:
  RandomFiller(platform::Clock& clock, platform::Random& random) : clock_(clock), random_(random) {}

  // Overwrites `count` bytes with values uniform over 0..255.
  void Bytes(std::uint8_t* out, std::size_t count);
  // Overwrites `count` characters with code-page characters of codes 0..254:
  // a random byte b becomes code floor(b x 255 / 256), the integer part of
  // r x 255 for r = b / 256.
  void Characters(char16_t* out, std::size_t count);

 private:
  std::uint64_t NextKey();
  platform::Clock& clock_;
  platform::Random& random_;
  bool seeded_ = false;
};

}  // namespace vizadavu::detail

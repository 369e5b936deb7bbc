// Random overwrites for Clear: the generator is reseeded from the clock before
// every draw. With the built-in clock and generator the loop is compiled against
// their final types, so a draw costs one clock read and one generator step and
// no virtual call.
#pragma once

#include <cstddef>

#include "control/State.h"

namespace vizadavu::detail {

// Nearest integer, halves to even, for 0 <= x < 2^52 (default rounding mode).
// Without -ffast-math the compiler keeps both steps, and the addition rounds.
inline double RoundHalfEven(double x) {
  constexpr double kBig = 0x1p52;
  return (x + kBig) - kBig;
}

template <class ClockT, class RandomT, class T, class Make>
void FillRandomWith(ClockT& clock, RandomT& random, T* out, std::size_t count, Make make) {
  for (std::size_t i = 0; i < count; ++i) {
    random.Reseed(static_cast<std::uint64_t>(clock.Now().count()));
    out[i] = make(random.Next());
  }
}

template <class T, class Make>
void FillRandom(vizADAVU::State& s, T* out, std::size_t count, Make make) {
  if (&s.clock == &s.ownClock && &s.random == &s.ownRandom) {
    FillRandomWith(s.ownClock, s.ownRandom, out, count, make);
  } else {
    FillRandomWith(s.clock, s.random, out, count, make);
  }
}

}  // namespace vizadavu::detail

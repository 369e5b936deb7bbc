#pragma once

#include <cstdint>

namespace vizadavu::platform {

// A pseudo-random generator that can be reseeded and yields values in [0, 1).
// Clear reseeds it from the clock once and draws one value per block it
// overwrites; the draw keys a fast sequence that fills the block.
class Random {
 public:
  virtual ~Random() = default;
  virtual void Reseed(std::uint64_t seed) = 0;
  virtual double Next() = 0;
};

// splitmix64: one multiply-xorshift step per draw, reseeding is a plain store.
class SplitMixRandom final : public Random {
 public:
  void Reseed(std::uint64_t seed) override { state_ = seed; }
  double Next() override {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * 0x1.0p-53;
  }

 private:
  std::uint64_t state_ = 0;
};

}  // namespace vizadavu::platform

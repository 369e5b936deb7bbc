#include "control/RandomFill.h"

#include <algorithm>
#include <cstring>

#include "platform/CodePage.h"

namespace vizadavu::detail {
namespace {

constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ull;

std::uint64_t Mix(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Writes the splitmix64 sequence keyed by `key` over `count` bytes. The state
// only advances by an addition, so successive steps overlap in the pipeline.
void Expand(std::uint64_t key, std::uint8_t* out, std::size_t count) {
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const std::uint64_t word = Mix(key += kGolden);
    std::memcpy(out + i, &word, sizeof word);
  }
  if (i < count) {
    const std::uint64_t word = Mix(key += kGolden);
    std::memcpy(out + i, &word, count - i);
  }
}

}  // namespace

std::uint64_t RandomFiller::NextKey() {
  if (!seeded_) {
    random_.Reseed(static_cast<std::uint64_t>(clock_.Now().count()));
    seeded_ = true;
  }
  // r in [0, 1) scaled to the whole 64-bit range; a value outside it (a faulty
  // generator of the host's) counts as 0 rather than overflowing.
  const double r = random_.Next();
  return r >= 0.0 && r < 1.0 ? static_cast<std::uint64_t>(r * 0x1p64) : 0;
}

void RandomFiller::Bytes(std::uint8_t* out, std::size_t count) {
  for (std::size_t done = 0; done < count;) {
    const std::size_t n = std::min(kRandomBlock, count - done);
    Expand(NextKey(), out + done, n);
    done += n;
  }
}

void RandomFiller::Characters(char16_t* out, std::size_t count) {
  // Random codes go through a small buffer that stays in cache, then through
  // the code page sixteen at a time.
  constexpr std::size_t kStep = 4096;
  std::uint8_t codes[kStep];
  for (std::size_t done = 0; done < count;) {
    const std::uint64_t key = NextKey();
    const std::size_t blockEnd = done + std::min(kRandomBlock, count - done);
    std::uint64_t state = key;
    while (done < blockEnd) {
      const std::size_t n = std::min(kStep, blockEnd - done);
      Expand(state, codes, n);
      state += kGolden * ((n + 7) / 8);
      // floor(b x 255 / 256) is b - 1 for b >= 1 and 0 for b = 0.
      for (std::size_t k = 0; k < n; ++k)
        codes[k] = static_cast<std::uint8_t>(codes[k] - (codes[k] != 0));
      platform::AnsiToChars(codes, n, out + done);
      done += n;
    }
  }
}

}  // namespace vizadavu::detail

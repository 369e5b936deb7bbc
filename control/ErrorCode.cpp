// Reading the code back out of an Error event's message.
#include <limits>

#include "vizadavu/vizADAVU.h"

namespace vizadavu::errors {

std::optional<Long> CodeOf(const Text& ErrorMessage) {
  std::size_t i = 0;
  const bool negative = !ErrorMessage.empty() && ErrorMessage[0] == u'-';
  if (negative) i = 1;
  if (i == ErrorMessage.size()) return std::nullopt;
  // Accumulated as a negative number, whose range is the larger one.
  constexpr long long kMin = std::numeric_limits<Long>::min();
  long long value = 0;
  for (; i < ErrorMessage.size(); ++i) {
    const char16_t c = ErrorMessage[i];
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 - (c - u'0');
    if (value < kMin) return std::nullopt;
  }
  if (!negative) {
    value = -value;
    if (value > std::numeric_limits<Long>::max()) return std::nullopt;
  }
  return static_cast<Long>(value);
}

}  // namespace vizadavu::errors

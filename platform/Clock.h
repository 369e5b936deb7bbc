#pragma once

#include <chrono>

namespace vizadavu::platform {

// A monotonic clock.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::chrono::nanoseconds Now() = 0;
};

class SteadyClock final : public Clock {
 public:
  std::chrono::nanoseconds Now() override {
    return std::chrono::steady_clock::now().time_since_epoch();
  }
};

}  // namespace vizadavu::platform

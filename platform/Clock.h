#pragma once

#include <chrono>

namespace vizadavu::platform {

// A monotonic clock that can also wait.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::chrono::nanoseconds Now() = 0;
  // Returns once Now() has reached `deadline` (at once when it already has).
  virtual void SleepUntil(std::chrono::nanoseconds deadline) = 0;
};

// The operating system's monotonic clock, whose wait sleeps.
Clock& SystemClock() noexcept;

}  // namespace vizadavu::platform

#pragma once

#include <chrono>
#include <thread>

namespace vizadavu::platform {

// A monotonic clock that can also wait.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::chrono::nanoseconds Now() = 0;
  // Returns once Now() has reached `deadline` (at once when it already has).
  virtual void SleepUntil(std::chrono::nanoseconds deadline) = 0;
};

class SteadyClock final : public Clock {
 public:
  std::chrono::nanoseconds Now() override {
    return std::chrono::steady_clock::now().time_since_epoch();
  }
  void SleepUntil(std::chrono::nanoseconds deadline) override {
    std::this_thread::sleep_until(std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(deadline)));
  }
};

}  // namespace vizadavu::platform

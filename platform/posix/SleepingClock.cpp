// The built-in clock on POSIX systems: the steady clock, and a wait that sleeps
// until its deadline.
#include <thread>

#include "platform/Clock.h"

namespace vizadavu::platform {
namespace {

class SleepingClock final : public Clock {
 public:
  std::chrono::nanoseconds Now() override {
    return std::chrono::steady_clock::now().time_since_epoch();
  }
  void SleepUntil(std::chrono::nanoseconds deadline) override {
    std::this_thread::sleep_until(std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(deadline)));
  }
};

}  // namespace

Clock& SystemClock() noexcept {
  static SleepingClock clock;
  return clock;
}

}  // namespace vizadavu::platform

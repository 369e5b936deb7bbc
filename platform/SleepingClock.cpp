// The built-in clock: the steady clock, and a wait that sleeps until its
// deadline. It sleeps for what is left, in steps, until the deadline has
// passed, rather than with sleep_until, which returns at once with mingw-w64's
// runtime (the control's pause would spin, millions of passes a second).
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
    for (auto now = Now(); now < deadline; now = Now()) {
      std::this_thread::sleep_for(deadline - now);
    }
  }
};

}  // namespace

Clock& SystemClock() noexcept {
  static SleepingClock clock;
  return clock;
}

}  // namespace vizadavu::platform

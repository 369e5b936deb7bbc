// The state of a control on the built-in services: what the shipped libraries
// construct every control with.
#include "control/State.h"

namespace vizadavu::detail {

std::unique_ptr<State> NewState(vizADAVUEvents* events, MessageLoop* loop) {
  return std::make_unique<State>(events, loop, platform::Services{});
}

}  // namespace vizadavu::detail

// The state of a control in the internal library: built on the services that
// Testing::Make or Testing::New hands over for the control being constructed
// on this thread, or on the built-in ones.
#include "control/Testing.h"

#include "control/State.h"

namespace vizadavu::detail {
namespace {

thread_local const platform::Services* t_services = nullptr;

}  // namespace

Testing::Using::Using(const platform::Services& services) noexcept : previous_(t_services) {
  t_services = &services;
}

Testing::Using::~Using() {
  t_services = previous_;
}

std::unique_ptr<State> NewState(vizADAVUEvents* events, MessageLoop* loop) {
  return std::make_unique<State>(events, loop,
                                 t_services != nullptr ? *t_services : platform::Services{});
}

}  // namespace vizadavu::detail

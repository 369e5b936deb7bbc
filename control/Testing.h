// Test, benchmark and fuzzing access to the control: a control built on given
// platform services (a fake internet boundary, a fake clock, a recording
// memory). Not installed; hosts create the control with its public constructor.
#pragma once

#include <memory>

#include "platform/Services.h"
#include "vizadavu/vizADAVU.h"

namespace vizadavu::detail {

struct Testing {
  // A control whose services come from services; a null service means the
  // built-in one. The services must outlive the control, and the transfer of
  // a control destroyed while it runs.
  static vizADAVU Make(vizADAVUEvents* events, MessageLoop* loop,
                       const platform::Services& services) {
    return vizADAVU(events, loop, services);
  }
  static std::unique_ptr<vizADAVU> New(vizADAVUEvents* events, MessageLoop* loop,
                                       const platform::Services& services) {
    return std::unique_ptr<vizADAVU>(new vizADAVU(events, loop, services));
  }
};

}  // namespace vizadavu::detail

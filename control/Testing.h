// Test, benchmark and fuzzing access to the control: a control built on given
// platform services (a fake internet boundary, a fake clock, a recording
// memory). Compiled only into the internal library (control/Testing.cpp); the
// shipped libraries have no way in. Hosts create the control with its public
// constructor.
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
    const Using scope(services);
    return vizADAVU(events, loop);
  }
  static std::unique_ptr<vizADAVU> New(vizADAVUEvents* events, MessageLoop* loop,
                                       const platform::Services& services) {
    const Using scope(services);
    return std::make_unique<vizADAVU>(events, loop);
  }

 private:
  // The services of the controls constructed on this thread while it lives.
  class Using {
   public:
    explicit Using(const platform::Services& services) noexcept;
    ~Using();
    Using(const Using&) = delete;
    Using& operator=(const Using&) = delete;

   private:
    const platform::Services* previous_;
  };
};

}  // namespace vizadavu::detail

#pragma once

#include "platform/Clock.h"
#include "platform/Internet.h"
#include "platform/Memory.h"
#include "platform/Random.h"

namespace vizadavu::platform {

// The outside world of one control. A null member means the built-in service
// (libcurl, the steady clock, splitmix64, the system memory).
struct Services {
  Internet* internet = nullptr;
  Clock* clock = nullptr;
  Random* random = nullptr;
  Memory* memory = nullptr;  // where the reply's storage comes from
};

}  // namespace vizadavu::platform

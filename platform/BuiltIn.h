// The built-in internet service of the platform the library is built for (the
// one CMake chooses), as the control and the public functions reach it without
// naming its implementation.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/Internet.h"
#include "platform/Memory.h"

namespace vizadavu::platform {

// A new internet boundary whose reply staging comes from `memory`.
std::unique_ptr<Internet> MakeBuiltInInternet(Memory& memory);

// The forward proxy the built-in service takes from the environment for a
// request to `host` (plain HTTP when `plain`, else TLS); "" for none.
std::string BuiltInProxy(std::string_view host, bool plain);

}  // namespace vizadavu::platform

// The process environment, as the boundary reads it.
#pragma once

namespace vizadavu::platform {

// The value of an environment variable, or nullptr when it is unset or the
// process runs with raised privileges (set-user-ID or set-group-ID), where the
// environment belongs to whoever started it.
const char* SecureVariable(const char* name) noexcept;

}  // namespace vizadavu::platform

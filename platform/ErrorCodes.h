// Every error code the library and its internet boundary report, of one type
// from the boundary's LastError to the host's Error event. The codes a host is
// told about are the public vizadavu::errors names; this adds the codes only the
// boundary's own contract uses (misuse of its calls), so that no number is
// written down twice.
#pragma once

#include "vizadavu/ErrorCodes.h"

namespace vizadavu::platform {

using ErrorCode = Long;

namespace codes {
using namespace vizadavu::errors;  // NotEnoughMemory, Timeout, InvalidUrl, ...

inline constexpr ErrorCode None = 0;
// A handle that is unknown, closed, of the wrong kind or from another object.
inline constexpr ErrorCode InvalidHandle = 6;
// An argument the boundary refuses (a malformed header line, a user name, ...).
inline constexpr ErrorCode InvalidParameter = 87;
// A read on a request that was never sent.
inline constexpr ErrorCode IncorrectHandleState = 12019;
// A query for a header (or the status line) the reply did not have.
inline constexpr ErrorCode HeaderNotFound = 12150;
}  // namespace codes

}  // namespace vizadavu::platform

// The error codes a host's Error event carries, on their own so that the code
// below the control (the internet boundary) can share them without the
// control's interface. Included by vizADAVU.h.
#pragma once

#include <cstdint>

namespace vizadavu {

using Long = std::int32_t;

// Error codes carried by the Error event, as decimal text. They are the numbers a
// Windows host gets for the same failure and never change meaning.
namespace errors {
inline constexpr Long NotEnoughMemory = 8;
inline constexpr Long Timeout = 12002;
inline constexpr Long InternalError = 12004;
inline constexpr Long InvalidUrl = 12005;
inline constexpr Long NameNotResolved = 12007;
inline constexpr Long CertDateInvalid = 12037;       // with StrictCertificates
inline constexpr Long CertCnInvalid = 12038;         // with StrictCertificates
inline constexpr Long ClientAuthCertNeeded = 12044;  // the server demands a client certificate
inline constexpr Long InvalidCa = 12045;
inline constexpr Long CannotConnect = 12029;
inline constexpr Long ConnectionAborted = 12030;
inline constexpr Long ConnectionReset = 12031;
inline constexpr Long InvalidServerResponse = 12152;
inline constexpr Long SecureChannelError = 12157;
inline constexpr Long InvalidCertificate = 12169;
inline constexpr Long Cancelled = 12017;  // the host called Cancel
}  // namespace errors
}  // namespace vizadavu

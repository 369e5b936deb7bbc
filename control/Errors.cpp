// The error codes as a host meets them: their descriptions, and the code read
// back out of an Error event's message.
#include <limits>

#include "vizadavu/vizADAVU.h"

namespace vizadavu::errors {

std::string_view Describe(Long code) noexcept {
  switch (code) {
    case NotEnoughMemory:
      return "not enough memory";
    case Timeout:
      return "the operation timed out";
    case InternalError:
      return "internal error";
    case InvalidUrl:
      return "the URL is invalid";
    case NameNotResolved:
      return "the server name could not be resolved";
    case CertDateInvalid:
      return "the server certificate is outside its validity period";
    case CertCnInvalid:
      return "the server certificate does not name the server";
    case ClientAuthCertNeeded:
      return "the server demands a client certificate";
    case InvalidCa:
      return "the server certificate's issuer is unknown or untrusted";
    case CannotConnect:
      return "cannot connect to the server";
    case ConnectionAborted:
      return "the connection was aborted";
    case ConnectionReset:
      return "the connection was reset";
    case InvalidServerResponse:
      return "the server response is invalid";
    case SecureChannelError:
      return "the secure channel could not be established";
    case Cancelled:
      return "the operation was cancelled";
    case InvalidCertificate:
      return "the server certificate is invalid";
    // Codes that only the Windows boundary passes on, as the system gives them.
    case 10054:  // WSAECONNRESET
      return "the connection was reset by the peer (Winsock)";
    case 10060:  // WSAETIMEDOUT
      return "the connection timed out (Winsock)";
    case 12057:  // ERROR_INTERNET_SEC_CERT_REV_FAILED
      return "the server certificate's revocation could not be checked";
    default:
      return "unknown error";
  }
}

std::optional<Long> CodeOf(const Text& ErrorMessage) {
  std::size_t i = 0;
  const bool negative = !ErrorMessage.empty() && ErrorMessage[0] == u'-';
  if (negative) i = 1;
  if (i == ErrorMessage.size()) return std::nullopt;
  // Accumulated as a negative number, whose range is the larger one.
  constexpr long long kMin = std::numeric_limits<Long>::min();
  long long value = 0;
  for (; i < ErrorMessage.size(); ++i) {
    const char16_t c = ErrorMessage[i];
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 - (c - u'0');
    if (value < kMin) return std::nullopt;
  }
  if (!negative) {
    value = -value;
    if (value > std::numeric_limits<Long>::max()) return std::nullopt;
  }
  return static_cast<Long>(value);
}

}  // namespace vizadavu::errors

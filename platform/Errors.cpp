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
    default:
      return "unknown error";
  }
}

}  // namespace vizadavu::errors

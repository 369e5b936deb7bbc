#include "platform/curl/CurlErrors.h"

#include <curl/curl.h>
#include <openssl/x509_vfy.h>

#include <cerrno>

namespace vizadavu::platform {
namespace {

// libcurl's limit for the header lines of one reply (1xx replies included),
// beyond which it fails the transfer with CURLE_RECV_ERROR.
constexpr long kCurlHeaderBlockLimit = 300 * 1024;

ErrorCode ForVerifyResult(long verifyResult, bool leafDatesInvalid) {
  switch (verifyResult) {
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
      // An issuer's dates are a certificate failure like any other.
      return leafDatesInvalid ? codes::CertDateInvalid : codes::InvalidCertificate;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return codes::CertCnInvalid;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
      return codes::InvalidCa;
    default:
      return codes::InvalidCertificate;
  }
}

ErrorCode ForConnectionError(const CurlFailure& f) {
  if (f.phase == CurlPhase::kReplyHeaders && f.headerBytes > kCurlHeaderBlockLimit) {
    return codes::InvalidServerResponse;  // the header block is larger than libcurl takes
  }
  // EPIPE: the peer tore the connection down while the request was going out
  // (libcurl may report it instead of the ECONNRESET that caused it).
  if (f.osErrno == ECONNRESET || f.osErrno == EPIPE) return codes::ConnectionReset;
  if (f.osErrno == ETIMEDOUT) return codes::Timeout;
  return codes::ConnectionAborted;  // also bad chunked encoding (errno 0)
}

// The server asked for a client certificate, got none, and the connection
// failed before any reply: in the handshake (TLS 1.2, and 1.3 servers that
// fail it there) or at the first read (TLS 1.3's certificate_required alert).
bool RefusedWithoutClientCertificate(const CurlFailure& f) {
  if (!f.certificateRequested || f.phase == CurlPhase::kReplyBody) return false;
  switch (static_cast<CURLcode>(f.code)) {
    case CURLE_SSL_CONNECT_ERROR:
      return !f.badSignature;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
      return true;
    default:
      return false;
  }
}

}  // namespace

ErrorCode ErrorForCurl(const CurlFailure& f) noexcept {
  const bool connected = f.phase != CurlPhase::kConnecting;
  if (RefusedWithoutClientCertificate(f)) return codes::ClientAuthCertNeeded;
  switch (static_cast<CURLcode>(f.code)) {
    case CURLE_OK:
      return codes::None;
    case CURLE_UNSUPPORTED_PROTOCOL:  // after connecting: an HTTP/0.9 (status-less) reply
      return connected ? codes::InvalidServerResponse : codes::InvalidUrl;
    case CURLE_URL_MALFORMAT:
      return codes::InvalidUrl;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
      return codes::NameNotResolved;
    case CURLE_COULDNT_CONNECT:
    case CURLE_INTERFACE_FAILED:
    case CURLE_PROXY:
      return codes::CannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
      return codes::Timeout;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_GOT_NOTHING:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
      return codes::InvalidServerResponse;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
      return ForConnectionError(f);
    case CURLE_PARTIAL_FILE:  // body shorter than announced
      return codes::ConnectionAborted;
    case CURLE_OUT_OF_MEMORY:
      // libcurl refuses a reply header line longer than its limit (100 KiB) with
      // this code; there it is the server's reply that is at fault.
      return f.phase == CurlPhase::kReplyHeaders ? codes::InvalidServerResponse
                                                 : codes::NotEnoughMemory;
    case CURLE_SSL_CONNECT_ERROR:
      return f.badSignature ? codes::InvalidCertificate : codes::SecureChannelError;
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_CLIENTCERT:
      return codes::SecureChannelError;
    case CURLE_PEER_FAILED_VERIFICATION:
      return ForVerifyResult(f.verifyResult, f.leafDatesInvalid);
    case CURLE_SSL_ISSUER_ERROR:
      return codes::InvalidCa;
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
      return codes::InvalidCertificate;
    default:
      return codes::InternalError;
  }
}

ErrorCode SetupErrorForCurl(int code) noexcept {
  return code == CURLE_OUT_OF_MEMORY ? codes::NotEnoughMemory : codes::InternalError;
}

ErrorCode MultiErrorForCurl(int code) noexcept {
  return code == CURLM_OUT_OF_MEMORY ? codes::NotEnoughMemory : codes::InternalError;
}

}  // namespace vizadavu::platform

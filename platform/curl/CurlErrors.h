// libcurl's results as the error codes a Windows host gets for the same failure.
#pragma once

#include "platform/ErrorCodes.h"

namespace vizadavu::platform {

// How far a transfer had come when it failed.
enum class CurlPhase {
  kConnecting,    // before the request went out: lookup, TCP, TLS, URL checks
  kReplyHeaders,  // the request went out; the final reply headers are still being read
  kReplyBody,     // the final reply headers are in
};

// What is known about a failed transfer.
struct CurlFailure {
  int code = 0;           // CURLcode
  long osErrno = 0;       // CURLINFO_OS_ERRNO
  long verifyResult = 0;  // CURLINFO_SSL_VERIFYRESULT
  CurlPhase phase = CurlPhase::kConnecting;
  long headerBytes = 0;               // CURLINFO_HEADER_SIZE
  bool badSignature = false;          // the server's handshake signature did not verify
  bool leafDatesInvalid = false;      // the server certificate is outside its validity period
  bool certificateRequested = false;  // the server asked for a client certificate
};

// The code for a transfer's result (codes::None for CURLE_OK). A pure function:
// the table in the README lists its rows.
ErrorCode ErrorForCurl(const CurlFailure& failure) noexcept;

// The code for a failure of curl_easy_setopt and friends before any transfer
// started: no memory, or an internal error.
ErrorCode SetupErrorForCurl(int code) noexcept;
// The same for a curl_multi_* failure.
ErrorCode MultiErrorForCurl(int code) noexcept;

}  // namespace vizadavu::platform

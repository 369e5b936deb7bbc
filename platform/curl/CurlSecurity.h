// Security settings every libcurl transfer of this boundary carries: the TLS
// context policy, close-on-exec sockets, the trust store from the environment,
// and what a failed handshake told us beyond libcurl's result.
#pragma once

#include <curl/curl.h>

namespace vizadavu::platform {

// Per-transfer TLS state; must outlive the easy handle it is given to.
struct TlsWatch {
  bool ignoreLeafDates = false;     // forgive the server certificate's validity period
  bool badServerSignature = false;  // the handshake failed on the server's signature
};

// Sets the TLS options of a secure request on `easy`: TLS 1.2 at least,
// verification of chain and name, no session cache, key logging off, and the
// trust store (SSL_CERT_FILE / SSL_CERT_DIR). `verifyHost` false skips the name.
CURLcode ConfigureTls(CURL* easy, TlsWatch& watch, bool verifyHost);

// Makes every socket libcurl opens for `easy` close-on-exec.
CURLcode OpenSocketsCloseOnExec(CURL* easy);

}  // namespace vizadavu::platform

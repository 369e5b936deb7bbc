// Security settings every libcurl transfer of this boundary carries: the TLS
// context policy, close-on-exec sockets, the trust store from the environment,
// and what a failed handshake told us beyond libcurl's result.
#pragma once

#include <curl/curl.h>

#include <string>
#include <string_view>

namespace vizadavu::platform {

// Per-transfer TLS state; must outlive the easy handle it is given to.
struct TlsWatch {
  bool ignoreLeafDates = false;       // forgive the server certificate's validity period
  std::string verifyName;             // the name or address the certificate must carry; empty: any
  bool badServerSignature = false;    // the handshake failed on the server's signature
  bool leafDatesInvalid = false;      // the server certificate is outside its validity period
  bool certificateRequested = false;  // the server asked for a client certificate
  bool closeNotify = false;           // the server's close_notify alert arrived
};

// Sets the TLS options of a secure request on `easy`: TLS 1.2 at least,
// verification of chain and name, no session cache, key logging off, and the
// trust store (SSL_CERT_FILE / SSL_CERT_DIR). `host` is the server as it goes
// into a URL; `verifyHost` false skips the name check. No client certificate
// is ever sent.
CURLcode ConfigureTls(CURL* easy, TlsWatch& watch, std::string_view host, bool verifyHost);

// Makes every socket libcurl opens for `easy` close-on-exec.
CURLcode OpenSocketsCloseOnExec(CURL* easy);

}  // namespace vizadavu::platform

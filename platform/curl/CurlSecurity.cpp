#include "platform/curl/CurlSecurity.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include "platform/Environment.h"

namespace vizadavu::platform {
namespace {

// The SSL_CTX slot that points at the transfer's TlsWatch.
int WatchIndex() {
  static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

TlsWatch* WatchOf(const SSL* ssl) {
  return static_cast<TlsWatch*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), WatchIndex()));
}

// A certificate outside its validity period is forgiven for the server's own
// certificate (depth 0) only, and only when the request says so; an expired or
// not yet valid issuer always fails.
int VerifyLeafDates(int ok, X509_STORE_CTX* store) {
  if (ok == 0 && X509_STORE_CTX_get_error_depth(store) == 0) {
    const int error = X509_STORE_CTX_get_error(store);
    const auto* ssl = static_cast<const SSL*>(
        X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    TlsWatch* watch = ssl != nullptr ? WatchOf(ssl) : nullptr;
    if (watch != nullptr &&
        (error == X509_V_ERR_CERT_NOT_YET_VALID || error == X509_V_ERR_CERT_HAS_EXPIRED)) {
      if (!watch->ignoreLeafDates) {
        watch->leafDatesInvalid = true;
        return 0;
      }
      X509_STORE_CTX_set_error(store, X509_V_OK);
      return 1;
    }
  }
  return ok;
}

// The server's certificate must name the server in its subjectAltName (DNS or
// IP entry; RFC 6125 matching, a wildcard only as a whole leftmost label). The
// check runs inside the handshake, so a mismatch has a verify result of its own.
bool VerifyServerName(SSL_CTX* ctx, const std::string& name) {
  if (name.empty()) return true;
  X509_VERIFY_PARAM* param = SSL_CTX_get0_param(ctx);
  if (X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str()) == 1) return true;
  X509_VERIFY_PARAM_set_hostflags(
      param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS | X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
  return X509_VERIFY_PARAM_set1_host(param, name.data(), name.size()) == 1;
}

// libcurl installs a key-log callback when SSLKEYLOGFILE is set; session
// secrets of this boundary's connections are never written anywhere.
void DisableKeyLog(SSL_CTX* ctx) {
  SSL_CTX_set_keylog_callback(ctx, nullptr);
}

// OpenSSL keeps the plaintext it decrypted in its record buffer until the next
// record overwrites it; with this option it wipes it as soon as libcurl has
// taken it, and when the connection is freed.
void HardenTlsContext(SSL_CTX* ctx) {
  SSL_CTX_set_options(ctx, SSL_OP_CLEANSE_PLAINTEXT);
}

// OpenSSL raises "bad signature" just before it sends the fatal alert for a
// server signature that does not verify (TLS 1.2 key exchange, TLS 1.3
// CertificateVerify); libcurl reports only a failed handshake. A close_notify
// from the server is noted too: libcurl takes a bare close as the end of the
// reply as well.
void OnTlsInfo(const SSL* ssl, int where, int value) {
  TlsWatch* watch = WatchOf(ssl);
  if (watch == nullptr) return;
  if ((where & SSL_CB_READ_ALERT) == SSL_CB_READ_ALERT && (value & 0xFF) == SSL_AD_CLOSE_NOTIFY) {
    watch->closeNotify = true;
    return;
  }
  if ((where & SSL_CB_WRITE_ALERT) == 0 || (value >> 8) != SSL3_AL_FATAL) return;
  const unsigned long error = ERR_peek_last_error();
  if (ERR_GET_LIB(error) == ERR_LIB_SSL && ERR_GET_REASON(error) == SSL_R_BAD_SIGNATURE) {
    watch->badServerSignature = true;
  }
}

// Called when the server asks for a client certificate (TLS 1.2 and 1.3, after
// the handshake too); this client has none to give.
int OnCertificateRequest(SSL* ssl, X509**, EVP_PKEY**) {
  if (TlsWatch* watch = WatchOf(ssl)) watch->certificateRequested = true;
  return 0;
}

bool Watch(SSL_CTX* ctx, TlsWatch& watch) {
  if (WatchIndex() < 0 || SSL_CTX_set_ex_data(ctx, WatchIndex(), &watch) != 1) return false;
  SSL_CTX_set_info_callback(ctx, OnTlsInfo);
  SSL_CTX_set_client_cert_cb(ctx, OnCertificateRequest);
  SSL_CTX_set_verify(ctx, SSL_CTX_get_verify_mode(ctx), VerifyLeafDates);
  return true;
}

// libcurl calls this for each TLS context it makes, after its own settings.
CURLcode OnTlsContext(CURL*, void* sslCtx, void* user) {
  auto* ctx = static_cast<SSL_CTX*>(sslCtx);
  auto& watch = *static_cast<TlsWatch*>(user);
  DisableKeyLog(ctx);
  HardenTlsContext(ctx);
  if (!Watch(ctx, watch) || !VerifyServerName(ctx, watch.verifyName)) return CURLE_OUT_OF_MEMORY;
  return CURLE_OK;
}

curl_socket_t OpenCloseOnExec(void*, curlsocktype, curl_sockaddr* address) {
  return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

}  // namespace

CURLcode ConfigureTls(CURL* easy, TlsWatch& watch, std::string_view host, bool verifyHost) {
  // OpenSSL checks the name, not libcurl (whose check happens after the
  // handshake and leaves no verify result): an IPv6 literal without its
  // brackets, a name without a final dot.
  watch.verifyName.clear();
  if (verifyHost) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
      host = host.substr(1, host.size() - 2);
    } else if (host.size() > 1 && host.back() == '.') {
      host.remove_suffix(1);
    }
    watch.verifyName.assign(host);
  }
  CURLcode rc = CURLE_OK;
  const auto set = [&](CURLcode r) {
    if (rc == CURLE_OK) rc = r;
  };
  // TLS 1.0 and 1.1 are refused whatever the system's OpenSSL configuration allows.
  set(curl_easy_setopt(easy, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2)));
  set(curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L));
  set(curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L));
  set(curl_easy_setopt(easy, CURLOPT_SSL_SESSIONID_CACHE, 0L));
  set(curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, OnTlsContext));
  set(curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, &watch));
  // OpenSSL's own trust-store variables, which libcurl does not read itself. Each
  // replaces one of libcurl's built-in locations (CA bundle file, CA directory);
  // the other stays in use. Ignored in a set-user-ID or set-group-ID process.
  if (const char* file = SecureVariable("SSL_CERT_FILE"); file != nullptr && *file != '\0') {
    set(curl_easy_setopt(easy, CURLOPT_CAINFO, file));
  }
  if (const char* dir = SecureVariable("SSL_CERT_DIR"); dir != nullptr && *dir != '\0') {
    set(curl_easy_setopt(easy, CURLOPT_CAPATH, dir));
  }
  return rc;
}

CURLcode OpenSocketsCloseOnExec(CURL* easy) {
  return curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, OpenCloseOnExec);
}

}  // namespace vizadavu::platform

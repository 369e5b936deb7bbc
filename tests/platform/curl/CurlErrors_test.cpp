// libcurl results against the README's mapping table, row by row.
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>

#include <cerrno>

#include "platform/curl/CurlErrors.h"

namespace vizadavu::platform {
namespace {

constexpr CurlPhase kConnecting = CurlPhase::kConnecting;
constexpr CurlPhase kHeaders = CurlPhase::kReplyHeaders;
constexpr CurlPhase kBody = CurlPhase::kReplyBody;

struct Row {
  CURLcode code;
  CurlPhase phase;
  long osErrno;
  long verifyResult;
  long headerBytes;
  bool badSignature;
  ErrorCode expected;
  bool leafDates = false;             // the server certificate's own dates failed
  bool certificateRequested = false;  // the server asked for a client certificate
};

TEST(CurlErrors, MapsEveryRowOfTheTable) {
  const Row rows[] = {
      {CURLE_OK, kBody, 0, 0, 0, false, 0},
      {CURLE_UNSUPPORTED_PROTOCOL, kConnecting, 0, 0, 0, false, 12005},
      {CURLE_UNSUPPORTED_PROTOCOL, kHeaders, 0, 0, 0, false, 12152},
      {CURLE_URL_MALFORMAT, kConnecting, 0, 0, 0, false, 12005},
      {CURLE_COULDNT_RESOLVE_HOST, kConnecting, 0, 0, 0, false, 12007},
      {CURLE_COULDNT_RESOLVE_PROXY, kConnecting, 0, 0, 0, false, 12007},
      {CURLE_COULDNT_CONNECT, kConnecting, ECONNREFUSED, 0, 0, false, 12029},
      {CURLE_INTERFACE_FAILED, kConnecting, 0, 0, 0, false, 12029},
      {CURLE_PROXY, kConnecting, 0, 0, 0, false, 12029},
      {CURLE_OPERATION_TIMEDOUT, kConnecting, 0, 0, 0, false, 12002},
      {CURLE_WEIRD_SERVER_REPLY, kHeaders, 0, 0, 0, false, 12152},
      {CURLE_GOT_NOTHING, kHeaders, 0, 0, 0, false, 12152},
      {CURLE_BAD_CONTENT_ENCODING, kBody, 0, 0, 0, false, 12152},
      {CURLE_HTTP2, kHeaders, 0, 0, 0, false, 12152},
      {CURLE_HTTP2_STREAM, kHeaders, 0, 0, 0, false, 12152},
      {CURLE_HTTP3, kHeaders, 0, 0, 0, false, 12152},
      // Send and receive errors: the header block over libcurl's limit only while
      // the headers are read, then the OS error decides.
      {CURLE_RECV_ERROR, kHeaders, 0, 0, 300 * 1024 + 1, false, 12152},
      {CURLE_RECV_ERROR, kHeaders, 0, 0, 300 * 1024, false, 12030},
      {CURLE_RECV_ERROR, kBody, ECONNRESET, 0, 400 * 1024, false, 12031},
      {CURLE_SEND_ERROR, kConnecting, EPIPE, 0, 0, false, 12031},
      {CURLE_SEND_ERROR, kHeaders, ETIMEDOUT, 0, 0, false, 12002},
      {CURLE_RECV_ERROR, kBody, 0, 0, 0, false, 12030},  // bad chunked encoding
      {CURLE_PARTIAL_FILE, kBody, 0, 0, 0, false, 12030},
      {CURLE_OUT_OF_MEMORY, kHeaders, 0, 0, 0, false, 12152},
      {CURLE_OUT_OF_MEMORY, kConnecting, 0, 0, 0, false, 8},
      {CURLE_OUT_OF_MEMORY, kBody, 0, 0, 0, false, 8},
      {CURLE_SSL_CONNECT_ERROR, kConnecting, 0, 0, 0, true, 12169},
      {CURLE_SSL_CONNECT_ERROR, kConnecting, 0, 0, 0, false, 12157},
      {CURLE_SSL_CERTPROBLEM, kConnecting, 0, 0, 0, false, 12157},
      {CURLE_SSL_CIPHER, kConnecting, 0, 0, 0, false, 12157},
      {CURLE_SSL_CACERT_BADFILE, kConnecting, 0, 0, 0, false, 12157},
      {CURLE_SSL_ENGINE_NOTFOUND, kConnecting, 0, 0, 0, false, 12157},
      {CURLE_SSL_ENGINE_SETFAILED, kConnecting, 0, 0, 0, false, 12157},
      {CURLE_SSL_ENGINE_INITFAILED, kConnecting, 0, 0, 0, false, 12157},
      {CURLE_USE_SSL_FAILED, kConnecting, 0, 0, 0, false, 12157},
      {CURLE_SSL_SHUTDOWN_FAILED, kBody, 0, 0, 0, false, 12157},
      {CURLE_SSL_CRL_BADFILE, kConnecting, 0, 0, 0, false, 12157},
      {CURLE_SSL_CLIENTCERT, kConnecting, 0, 0, 0, false, 12157},
      {CURLE_PEER_FAILED_VERIFICATION, kConnecting, 0, X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT, 0,
       false, 12045},
      {CURLE_PEER_FAILED_VERIFICATION, kConnecting, 0, X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, 0,
       false, 12045},
      {CURLE_PEER_FAILED_VERIFICATION, kConnecting, 0, X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN, 0,
       false, 12045},
      {CURLE_PEER_FAILED_VERIFICATION, kConnecting, 0, X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY,
       0, false, 12045},
      {CURLE_PEER_FAILED_VERIFICATION, kConnecting, 0, X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE,
       0, false, 12045},
      {CURLE_PEER_FAILED_VERIFICATION, kConnecting, 0, X509_V_ERR_CERT_HAS_EXPIRED, 0, false,
       12169},
      {CURLE_PEER_FAILED_VERIFICATION, kConnecting, 0, X509_V_ERR_CERT_HAS_EXPIRED, 0, false, 12037,
       true},
      {CURLE_PEER_FAILED_VERIFICATION, kConnecting, 0, X509_V_ERR_CERT_NOT_YET_VALID, 0, false,
       12037, true},
      {CURLE_PEER_FAILED_VERIFICATION, kConnecting, 0, X509_V_ERR_HOSTNAME_MISMATCH, 0, false,
       12038},
      {CURLE_PEER_FAILED_VERIFICATION, kConnecting, 0, X509_V_ERR_IP_ADDRESS_MISMATCH, 0, false,
       12038},
      {CURLE_SSL_CONNECT_ERROR, kConnecting, 0, 0, 0, false, 12044, false, true},
      {CURLE_SSL_CONNECT_ERROR, kConnecting, 0, 0, 0, true, 12169, false, true},
      {CURLE_RECV_ERROR, kHeaders, ECONNRESET, 0, 0, false, 12044, false, true},
      {CURLE_RECV_ERROR, kBody, 0, 0, 0, false, 12030, false, true},
      {CURLE_OPERATION_TIMEDOUT, kHeaders, 0, 0, 0, false, 12002, false, true},
      {CURLE_SSL_ISSUER_ERROR, kConnecting, 0, 0, 0, false, 12045},
      {CURLE_SSL_PINNEDPUBKEYNOTMATCH, kConnecting, 0, 0, 0, false, 12169},
      {CURLE_WRITE_ERROR, kBody, 0, 0, 0, false, 12004},  // ours report their own code
      {CURLE_ABORTED_BY_CALLBACK, kBody, 0, 0, 0, false, 12004},
  };
  for (const Row& r : rows) {
    CurlFailure f;
    f.code = r.code;
    f.phase = r.phase;
    f.osErrno = r.osErrno;
    f.verifyResult = r.verifyResult;
    f.headerBytes = r.headerBytes;
    f.badSignature = r.badSignature;
    f.leafDatesInvalid = r.leafDates;
    f.certificateRequested = r.certificateRequested;
    EXPECT_EQ(ErrorForCurl(f), r.expected)
        << curl_easy_strerror(r.code) << " phase " << static_cast<int>(r.phase) << " errno "
        << r.osErrno << " verify " << r.verifyResult;
  }
}

TEST(CurlErrors, SetupAndMultiFailuresAreMemoryOrInternal) {
  EXPECT_EQ(SetupErrorForCurl(CURLE_OUT_OF_MEMORY), 8);
  EXPECT_EQ(SetupErrorForCurl(CURLE_UNKNOWN_OPTION), 12004);
  EXPECT_EQ(MultiErrorForCurl(CURLM_OUT_OF_MEMORY), 8);
  EXPECT_EQ(MultiErrorForCurl(CURLM_BAD_EASY_HANDLE), 12004);
}

}  // namespace
}  // namespace vizadavu::platform

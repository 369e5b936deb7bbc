// The internet boundary over libcurl's multi interface.
//
// Each request owns an easy handle in a multi handle of its own. SendRequest
// drives the multi handle until the final reply headers are in; ReadFile drives
// it until the caller's buffer is full or the body ends. The body write callback
// copies straight into the buffer of the read in progress and keeps whatever does
// not fit in a staging buffer of one delivery; once that is occupied the callback
// pauses the transfer, so nothing more is taken off the connection until a read
// asks for it.
#include "platform/CurlInternet.h"

#include <curl/curl.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/CurlSecurity.h"
#include "platform/ReplyFraming.h"
#include "platform/CurlMemory.h"
#include "platform/SecureMemory.h"
#include "vizadavu/vizADAVU.h"

namespace vizadavu::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr std::uint32_t Code(Long code) {
  return static_cast<std::uint32_t>(code);
}

constexpr std::uint32_t kNoError = 0;
constexpr std::uint32_t kInvalidHandle = inet::kErrorInvalidHandle;
constexpr std::uint32_t kInvalidParameter = inet::kErrorInvalidParameter;
constexpr std::uint32_t kNotEnoughMemory = Code(errors::NotEnoughMemory);
constexpr std::uint32_t kTimeout = Code(errors::Timeout);
constexpr std::uint32_t kInternalError = Code(errors::InternalError);
constexpr std::uint32_t kInvalidUrl = Code(errors::InvalidUrl);
constexpr std::uint32_t kNameNotResolved = Code(errors::NameNotResolved);
constexpr std::uint32_t kInvalidCa = Code(errors::InvalidCa);
constexpr std::uint32_t kCannotConnect = Code(errors::CannotConnect);
constexpr std::uint32_t kConnectionAborted = Code(errors::ConnectionAborted);
constexpr std::uint32_t kConnectionReset = Code(errors::ConnectionReset);
constexpr std::uint32_t kInvalidServerResponse = Code(errors::InvalidServerResponse);
constexpr std::uint32_t kSecureChannelError = Code(errors::SecureChannelError);
constexpr std::uint32_t kInvalidCertificate = Code(errors::InvalidCertificate);
// ReadFile on a request that was never sent (ERROR_INTERNET_INCORRECT_HANDLE_STATE).
constexpr std::uint32_t kIncorrectHandleState = 12019;

constexpr std::uint32_t kOpenTypePreconfigNoAutoproxy = 4;
constexpr std::uint32_t kNoLimit = std::numeric_limits<std::uint32_t>::max();
// The longest single wait in the poll loop; time-outs are checked at least this often.
constexpr int kMaxPollMs = 1000;
constexpr std::size_t kStageSize = CURL_MAX_WRITE_SIZE;

// libcurl's limit for the header lines of one reply (1xx replies included),
// beyond which it fails the transfer with CURLE_RECV_ERROR.
constexpr long kCurlHeaderBlockLimit = 300 * 1024;

// What is known about a finished or failed transfer.
struct Outcome {
  CURLcode code = CURLE_OK;
  long osErrno = 0;           // CURLINFO_OS_ERRNO
  long verifyResult = 0;      // CURLINFO_SSL_VERIFYRESULT
  bool connected = false;     // the request was about to go out: a protocol
                              // complaint is about the server's reply, not our URL
  bool inHeaders = false;     // the final reply headers were still being read
  long headerBytes = 0;       // CURLINFO_HEADER_SIZE
  bool badSignature = false;  // the server's handshake signature did not verify
};

// The outcome of a transfer as the error a Windows host gets for the same failure.
std::uint32_t ErrorFor(const Outcome& o) {
  const long osErrno = o.osErrno;
  const long verifyResult = o.verifyResult;
  const bool connected = o.connected;
  const bool inHeaders = o.inHeaders;
  switch (o.code) {
    case CURLE_OK:
      return kNoError;
    case CURLE_UNSUPPORTED_PROTOCOL:  // after connecting: an HTTP/0.9 (status-less) reply
      return connected ? kInvalidServerResponse : kInvalidUrl;
    case CURLE_URL_MALFORMAT:
      return kInvalidUrl;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
      return kNameNotResolved;
    case CURLE_COULDNT_CONNECT:
    case CURLE_INTERFACE_FAILED:
    case CURLE_PROXY:
      return kCannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
      return kTimeout;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_GOT_NOTHING:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
      return kInvalidServerResponse;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:  // also bad chunked encoding (errno 0)
      if (connected && inHeaders && o.headerBytes > kCurlHeaderBlockLimit) {
        return kInvalidServerResponse;  // the header block is larger than libcurl takes
      }
      // EPIPE: the peer tore the connection down while the request was going
      // out (libcurl may report it instead of the ECONNRESET that caused it).
      if (osErrno == ECONNRESET || osErrno == EPIPE) return kConnectionReset;
      if (osErrno == ETIMEDOUT) return kTimeout;
      return kConnectionAborted;
    case CURLE_PARTIAL_FILE:  // body shorter than announced
      return kConnectionAborted;
    case CURLE_OUT_OF_MEMORY:
      // libcurl refuses a reply header line longer than its limit (100 KiB) with
      // this code; there it is the server's reply that is at fault.
      return connected && inHeaders ? kInvalidServerResponse : kNotEnoughMemory;
    case CURLE_SSL_CONNECT_ERROR:
      return o.badSignature ? kInvalidCertificate : kSecureChannelError;
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
      return kSecureChannelError;
    case CURLE_PEER_FAILED_VERIFICATION:
      switch (verifyResult) {
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
          return kInvalidCa;
        default:
          return kInvalidCertificate;
      }
    case CURLE_SSL_ISSUER_ERROR:
      return kInvalidCa;
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
      return kInvalidCertificate;
    default:
      return kInternalError;
  }
}

// Errors of curl_easy_setopt and friends before any transfer started.
std::uint32_t SetupError(CURLcode code) {
  return code == CURLE_OUT_OF_MEMORY ? kNotEnoughMemory : kInternalError;
}

std::once_flag gCurlInitOnce;
CURLcode gCurlInitResult = CURLE_FAILED_INIT;

bool CurlReady() {
  std::call_once(gCurlInitOnce, [] {
    gCurlInitResult = static_cast<CURLcode>(InitCurlWithWipingMemory(CURL_GLOBAL_DEFAULT));
  });
  return gCurlInitResult == CURLE_OK;
}

// Handles are unique across every object in the process, so a handle from one
// object is never mistaken for a live handle of another.
std::atomic<Handle> gNextHandle{0x1000};

bool IsControl(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

bool HasControl(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return IsControl(static_cast<unsigned char>(c)); });
}

// RFC 9110 token characters (method and header names).
bool IsToken(std::string_view text) {
  if (text.empty()) return false;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                    std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
    if (!ok || c == 0) return false;
  }
  return true;
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string_view TrimSpace(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string_view NameOf(std::string_view line) {
  return line.substr(0, line.find(':'));
}

// The server name as it goes into a URL (IPv6 literals bracketed, a zone id's
// '%' escaped), or nullopt when it is empty or holds anything that would change
// the URL's structure.
std::optional<std::string> UrlHost(std::string_view name) {
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') {
    name = name.substr(1, name.size() - 2);
    if (name.find(':') == std::string_view::npos) return std::nullopt;
  }
  if (name.empty()) return std::nullopt;
  if (name.find(':') != std::string_view::npos) {  // IPv6 literal, optionally with %zone
    const std::size_t zone = name.find('%');
    std::string host = "[";
    for (std::size_t i = 0; i < name.size(); ++i) {
      const char c = name[i];
      const bool hex = (c >= '0' && c <= '9') || (Lower(c) >= 'a' && Lower(c) <= 'f');
      if (i < zone) {
        if (!hex && c != ':' && c != '.') return std::nullopt;
        host += c;
      } else if (i == zone) {
        host += "%25";
      } else {
        const bool zoneChar = hex || (Lower(c) >= 'a' && Lower(c) <= 'z') || c == '.' || c == '_' ||
                              c == '-' || c == '~';
        if (!zoneChar) return std::nullopt;
        host += c;
      }
    }
    if (zone + 1 == name.size()) return std::nullopt;
    return host + "]";
  }
  for (const char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsControl(c) || c == ' ' || std::strchr("/\\?#@[]:%", c) != nullptr) return std::nullopt;
  }
  return std::string(name);
}

// The object name as the request target: "/" when empty, a leading "/" added
// when missing, spaces as %20, every other byte as given.
std::string RequestTarget(std::string_view object) {
  std::string target;
  target.reserve(object.size() + 8);
  if (object.empty() || object.front() != '/') target += '/';
  for (const char c : object) {
    if (c == ' ') {
      target += "%20";
    } else {
      target += c;
    }
  }
  return target;
}

// Whether a plain-HTTP request may go through a forward proxy taken from the
// environment (libcurl reads http_proxy, then all_proxy / ALL_PROXY; it ignores
// HTTP_PROXY). Such a request must carry the whole URL in its request line.
bool EnvironmentMayProxyHttp() {
  for (const char* name : {"http_proxy", "all_proxy", "ALL_PROXY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

enum class Kind { kSession, kConnection, kRequest };

struct Timeouts {
  std::uint32_t connectMs = 60000;
  std::uint32_t sendMs = 30000;
  std::uint32_t receiveMs = 30000;
};

// The libcurl side of one sent request.
struct Transfer {
  CURLM* multi = nullptr;
  CURL* easy = nullptr;
  curl_slist* headers = nullptr;

  // Body bytes delivered by libcurl but not yet read: [stageBegin, stageEnd).
  std::uint8_t* stage = nullptr;
  std::size_t stageCap = 0;
  std::size_t stageBegin = 0;
  std::size_t stageEnd = 0;

  // The buffer of the read in progress (null between reads).
  std::uint8_t* dst = nullptr;
  std::size_t dstCap = 0;
  std::size_t dstLen = 0;

  bool paused = false;       // the write callback returned CURL_WRITEFUNC_PAUSE
  bool connected = false;    // connection (and TLS) set up, request about to go out
  bool headersDone = false;  // final reply headers received
  bool done = false;         // libcurl finished the transfer with `result`
  CURLcode result = CURLE_OK;
  std::uint32_t error = kNoError;  // sticky read error, reported once the data is out

  TlsWatch tls;
  ReplyFraming framing;

  curl_off_t uploadSize = 0;
  curl_off_t ulNow = 0;
  curl_off_t dlNow = 0;
  SteadyClock::time_point lastActivity{};

  Transfer() = default;
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;
  ~Transfer() {
    if (multi != nullptr && easy != nullptr) curl_multi_remove_handle(multi, easy);
    if (easy != nullptr) curl_easy_cleanup(easy);
    if (multi != nullptr) curl_multi_cleanup(multi);
    curl_slist_free_all(headers);
    ReleaseStage();
  }

  void ReleaseStage() {
    if (stage != nullptr) {
      WipeBeforeFree(stage, stageCap);
      delete[] stage;
    }
    stage = nullptr;
    stageCap = stageBegin = stageEnd = 0;
  }

  bool Staged() const { return stageEnd > stageBegin; }

  // Moves staged bytes into the read buffer.
  void DrainStage() {
    const std::size_t take = std::min(stageEnd - stageBegin, dstCap - dstLen);
    if (take == 0) return;
    std::memcpy(dst + dstLen, stage + stageBegin, take);
    dstLen += take;
    stageBegin += take;
    if (stageBegin == stageEnd) stageBegin = stageEnd = 0;
  }

  bool Sending() const { return connected && !done && ulNow < uploadSize; }

  // The error of a finished transfer: one of our own callbacks' if one failed it.
  std::uint32_t FinalError() const {
    if (error != kNoError) return error;
    Outcome o;
    o.code = result;
    curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &o.osErrno);
    curl_easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &o.verifyResult);
    curl_easy_getinfo(easy, CURLINFO_HEADER_SIZE, &o.headerBytes);
    o.connected = connected;
    o.inHeaders = !headersDone;
    o.badSignature = tls.badServerSignature;
    return ErrorFor(o);
  }
};

// libcurl delivers each piece of body at most once per call and re-delivers it
// after a pause, so a piece is taken whole or not at all.
std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  const std::size_t n = size * count;
  if (t.Staged()) {
    t.paused = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  const std::size_t direct = std::min(n, t.dstCap - t.dstLen);
  const std::size_t rest = n - direct;
  if (rest > t.stageCap) {
    // Larger than libcurl's documented maximum delivery; grow to hold it.
    auto* bigger = new (std::nothrow) std::uint8_t[rest];
    if (bigger == nullptr) {
      t.error = kNotEnoughMemory;
      return 0;  // fails the transfer with CURLE_WRITE_ERROR
    }
    t.ReleaseStage();
    t.stage = bigger;
    t.stageCap = rest;
  }
  if (direct > 0) {
    std::memcpy(t.dst + t.dstLen, data, direct);
    t.dstLen += direct;
  }
  if (rest > 0) {
    std::memcpy(t.stage, data + direct, rest);
    t.stageBegin = 0;
    t.stageEnd = rest;
  }
  t.lastActivity = SteadyClock::now();
  return n;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  const std::size_t n = size * count;
  t.lastActivity = SteadyClock::now();
  const std::string_view line(data, n);
  if (line.substr(0, 5) == "HTTP/") {
    // This client never asks to switch protocols: a 101 reply is invalid.
    long status = 0;
    curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &status);
    if (status == 101) {
      t.error = kInvalidServerResponse;
      return 0;  // fails the transfer with CURLE_WRITE_ERROR
    }
  }
  if (!t.framing.Line(line)) {
    t.error = kInvalidServerResponse;
    return 0;
  }
  const bool blank = (n == 2 && data[0] == '\r' && data[1] == '\n') || (n == 1 && data[0] == '\n');
  if (blank && !t.headersDone) {
    long status = 0;
    curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &status);
    if (status < 100 || status >= 200) t.headersDone = true;  // 1xx: more headers follow
  }
  return n;
}

int OnProgress(void* user, curl_off_t, curl_off_t dlNow, curl_off_t, curl_off_t ulNow) {
  auto& t = *static_cast<Transfer*>(user);
  if (dlNow != t.dlNow || ulNow != t.ulNow) {
    t.dlNow = dlNow;
    t.ulNow = ulNow;
    t.lastActivity = SteadyClock::now();
  }
  return 0;
}

int OnPrereq(void* user, char*, char*, int, int) {
  auto& t = *static_cast<Transfer*>(user);
  t.connected = true;
  t.lastActivity = SteadyClock::now();
  return CURL_PREREQFUNC_OK;
}

struct Node {
  Kind kind;
  Handle parent = kNullHandle;
  Timeouts timeouts;

  // Session.
  std::string agent;
  std::uint32_t accessType = inet::kOpenTypePreconfig;
  // Connection.
  std::string host;  // as it goes into a URL
  std::uint16_t port = 0;
  // Request.
  std::string verb;
  std::string target;
  long httpVersion = CURL_HTTP_VERSION_1_1;
  std::uint32_t flags = 0;
  std::vector<std::string> headers;  // "Name: value", in the order added
  std::unique_ptr<Transfer> transfer;

  explicit Node(Kind k) : kind(k) {}
};

}  // namespace

struct CurlInternet::Impl {
  mutable std::mutex mutex;
  std::atomic<std::uint32_t> lastError{kNoError};
  std::map<Handle, std::unique_ptr<Node>> nodes;

  bool Fail(std::uint32_t code) {
    lastError.store(code);
    return false;
  }
  Handle FailHandle(std::uint32_t code) {
    lastError.store(code);
    return kNullHandle;
  }

  Node* Find(Handle handle, Kind kind) {
    const auto it = nodes.find(handle);
    if (it == nodes.end() || it->second->kind != kind) return nullptr;
    return it->second.get();
  }

  Handle Add(std::unique_ptr<Node> node) {
    const Handle handle = gNextHandle.fetch_add(1);
    nodes.emplace(handle, std::move(node));
    return handle;
  }

  void Close(Handle handle) {
    std::vector<Handle> children;
    for (const auto& [h, node] : nodes) {
      if (node->parent == handle) children.push_back(h);
    }
    for (const Handle child : children) Close(child);
    nodes.erase(handle);
  }

  std::uint32_t Start(const Node& session, const Node& connection, Node& request,
                      std::optional<std::string_view> body);
  std::uint32_t Drive(Transfer& t, const Timeouts& timeouts, bool (*satisfied)(const Transfer&));
};

namespace {

bool HeadersIn(const Transfer& t) {
  return t.headersDone;
}
bool ReadBufferFull(const Transfer& t) {
  return t.dstLen == t.dstCap;
}

}  // namespace

// Runs the transfer until `satisfied` holds or it ends. The wait for progress
// starts now: time the transfer sat idle between calls is not counted.
std::uint32_t CurlInternet::Impl::Drive(Transfer& t, const Timeouts& timeouts,
                                        bool (*satisfied)(const Transfer&)) {
  t.lastActivity = SteadyClock::now();
  for (;;) {
    if (satisfied(t) || t.done) return kNoError;
    int running = 0;
    CURLMcode mc = curl_multi_perform(t.multi, &running);
    if (mc != CURLM_OK) return mc == CURLM_OUT_OF_MEMORY ? kNotEnoughMemory : kInternalError;
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(t.multi, &queued)) {
      if (msg->msg == CURLMSG_DONE && msg->easy_handle == t.easy) {
        t.done = true;
        t.result = msg->data.result;
      }
    }
    if (satisfied(t) || t.done) return kNoError;

    int waitMs = kMaxPollMs;
    if (t.connected) {  // before that, CURLOPT_CONNECTTIMEOUT_MS is in charge
      const std::uint32_t limit = t.Sending() ? timeouts.sendMs : timeouts.receiveMs;
      if (limit != 0 && limit != kNoLimit) {
        const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() -
                                                                                t.lastActivity)
                              .count();
        if (idle >= static_cast<long long>(limit)) return kTimeout;
        waitMs = static_cast<int>(std::min<long long>(waitMs, limit - idle));
      }
    }
    // Bytes arriving (or the socket taking more of the request) count as
    // activity even when they complete nothing libcurl reports: part of a
    // header line or chunk-size line, part of a TLS record.
    int events = 0;
    mc = curl_multi_poll(t.multi, nullptr, 0, waitMs, &events);
    if (mc != CURLM_OK) return mc == CURLM_OUT_OF_MEMORY ? kNotEnoughMemory : kInternalError;
    if (events > 0) t.lastActivity = SteadyClock::now();
  }
}

// Builds the easy handle for `request` and adds it to a new multi handle.
std::uint32_t CurlInternet::Impl::Start(const Node& session, const Node& connection, Node& request,
                                        std::optional<std::string_view> body) {
  auto t = std::make_unique<Transfer>();
  t->stage = new (std::nothrow) std::uint8_t[kStageSize];
  t->multi = curl_multi_init();
  t->easy = curl_easy_init();
  if (t->stage == nullptr || t->multi == nullptr || t->easy == nullptr) return kNotEnoughMemory;
  t->stageCap = kStageSize;

  const bool secure = (request.flags & inet::kFlagSecure) != 0;
  const char* scheme = secure ? "https" : "http";
  const std::uint16_t port = connection.port != 0 ? connection.port : (secure ? 443 : 80);
  const std::string origin =
      std::string(scheme) + "://" + connection.host + ":" + std::to_string(port);

  // The request target goes out byte for byte through CURLOPT_REQUEST_TARGET. A
  // forward proxy needs the whole URL in the request line instead, which libcurl
  // builds from CURLOPT_URL; it then percent-encodes bytes >= 0x80 in the path,
  // and '#' must be escaped so it is not cut off as a fragment.
  const bool viaUrl =
      !secure && session.accessType != inet::kOpenTypeDirect && EnvironmentMayProxyHttp();
  std::string url = origin;
  if (viaUrl) {
    for (const char c : request.target) {
      if (c == '#') {
        url += "%23";
      } else {
        url += c;
      }
    }
  } else {
    url += '/';
  }

  // Custom headers, then empty entries that stop libcurl adding its own.
  for (const std::string& line : request.headers) {
    curl_slist* next = curl_slist_append(t->headers, line.c_str());
    if (next == nullptr) return kNotEnoughMemory;
    t->headers = next;
  }
  for (const char* name : {"Accept", "Expect", "Content-Type", "Proxy-Connection"}) {
    const bool own =
        std::any_of(request.headers.begin(), request.headers.end(),
                    [&](const std::string& line) { return SameName(NameOf(line), name); });
    if (own) continue;
    curl_slist* next = curl_slist_append(t->headers, (std::string(name) + ":").c_str());
    if (next == nullptr) return kNotEnoughMemory;
    t->headers = next;
  }

  CURL* e = t->easy;
  Transfer* self = t.get();
  CURLcode rc = CURLE_OK;
  const auto set = [&](CURLcode r) {
    if (rc == CURLE_OK) rc = r;
  };
  set(curl_easy_setopt(e, CURLOPT_URL, url.c_str()));
  if (!viaUrl) set(curl_easy_setopt(e, CURLOPT_REQUEST_TARGET, request.target.c_str()));
  set(curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https"));
  set(curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L));
  set(curl_easy_setopt(e, CURLOPT_HTTP_VERSION, request.httpVersion));
  set(curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L));
  set(curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L));
  set(curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L));
  set(curl_easy_setopt(e, CURLOPT_HTTPHEADER, t->headers));
  set(curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L));
  if (!session.agent.empty()) set(curl_easy_setopt(e, CURLOPT_USERAGENT, session.agent.c_str()));
  if (session.accessType == inet::kOpenTypeDirect) set(curl_easy_setopt(e, CURLOPT_PROXY, ""));

  const std::uint32_t connectMs = request.timeouts.connectMs;
  set(curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS,
                       connectMs == kNoLimit ? 0L : static_cast<long>(connectMs)));

  set(curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody));
  set(curl_easy_setopt(e, CURLOPT_WRITEDATA, self));
  set(curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader));
  set(curl_easy_setopt(e, CURLOPT_HEADERDATA, self));
  set(curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L));
  set(curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, OnProgress));
  set(curl_easy_setopt(e, CURLOPT_XFERINFODATA, self));
  set(curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, OnPrereq));
  set(curl_easy_setopt(e, CURLOPT_PREREQDATA, self));

  set(OpenSocketsCloseOnExec(e));
  if (secure) {
    t->tls.ignoreLeafDates = (request.flags & inet::kFlagIgnoreCertDateInvalid) != 0;
    set(ConfigureTls(e, t->tls, (request.flags & inet::kFlagIgnoreCertCnInvalid) == 0));
  }

  const std::string& verb = request.verb;
  if (verb == "HEAD") {
    set(curl_easy_setopt(e, CURLOPT_NOBODY, 1L));
  } else if (verb == "POST" || (body.has_value() && !body->empty())) {
    // A POST always carries a Content-Length, 0 without a body. The body is
    // copied: it must outlive this call if the reply comes before it is sent.
    const std::string_view data = body.value_or(std::string_view{});
    t->uploadSize = static_cast<curl_off_t>(data.size());
    set(curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, t->uploadSize));
    set(curl_easy_setopt(e, CURLOPT_COPYPOSTFIELDS, data.empty() ? "" : data.data()));
    if (verb != "POST") set(curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, verb.c_str()));
  } else if (verb == "GET") {
    set(curl_easy_setopt(e, CURLOPT_HTTPGET, 1L));
  } else {
    set(curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, verb.c_str()));
  }
  if (rc != CURLE_OK) return SetupError(rc);

  const CURLMcode mc = curl_multi_add_handle(t->multi, e);
  if (mc != CURLM_OK) {
    curl_easy_cleanup(t->easy);  // never added: the destructor must not remove it
    t->easy = nullptr;
    return mc == CURLM_OUT_OF_MEMORY ? kNotEnoughMemory : kInternalError;
  }
  request.transfer = std::move(t);
  return kNoError;
}

CurlInternet::CurlInternet() : impl_(std::make_unique<Impl>()) {}

CurlInternet::~CurlInternet() = default;

std::unique_ptr<Internet> MakeCurlInternet() {
  return std::make_unique<CurlInternet>();
}

Handle CurlInternet::OpenSession(std::string_view agent, std::uint32_t accessType) {
  Impl& im = *impl_;
  const std::lock_guard lock(im.mutex);
  try {
    if (!CurlReady()) return im.FailHandle(kInternalError);
    if (accessType == kOpenTypePreconfigNoAutoproxy) accessType = inet::kOpenTypePreconfig;
    if (accessType != inet::kOpenTypePreconfig && accessType != inet::kOpenTypeDirect) {
      return im.FailHandle(kInvalidParameter);
    }
    // The agent becomes a header line: no line breaks or other control bytes.
    for (const char ch : agent) {
      const auto c = static_cast<unsigned char>(ch);
      if (IsControl(c) && c != '\t') return im.FailHandle(kInvalidParameter);
    }
    auto node = std::make_unique<Node>(Kind::kSession);
    node->agent = std::string(TrimSpace(agent));
    node->accessType = accessType;
    return im.Add(std::move(node));
  } catch (const std::bad_alloc&) {
    return im.FailHandle(kNotEnoughMemory);
  } catch (...) {
    return im.FailHandle(kInternalError);
  }
}

Handle CurlInternet::Connect(Handle session, std::string_view serverName, std::uint16_t port,
                             std::string_view userName, std::string_view password,
                             std::uint32_t service) {
  Impl& im = *impl_;
  const std::lock_guard lock(im.mutex);
  try {
    Node* parent = im.Find(session, Kind::kSession);
    if (parent == nullptr) return im.FailHandle(kInvalidHandle);
    if (service != inet::kServiceHttp) return im.FailHandle(kInvalidParameter);
    // Credentials would only be used to answer an authentication challenge,
    // which this boundary does not do; refuse them rather than drop them.
    if (!userName.empty() || !password.empty()) return im.FailHandle(kInvalidParameter);
    std::optional<std::string> host = UrlHost(serverName);
    if (!host) return im.FailHandle(kInvalidUrl);
    auto node = std::make_unique<Node>(Kind::kConnection);
    node->parent = session;
    node->timeouts = parent->timeouts;
    node->host = std::move(*host);
    node->port = port;
    return im.Add(std::move(node));
  } catch (const std::bad_alloc&) {
    return im.FailHandle(kNotEnoughMemory);
  } catch (...) {
    return im.FailHandle(kInternalError);
  }
}

Handle CurlInternet::OpenRequest(Handle connection, std::string_view verb,
                                 std::string_view objectName, std::string_view version,
                                 std::uint32_t flags) {
  Impl& im = *impl_;
  const std::lock_guard lock(im.mutex);
  try {
    Node* parent = im.Find(connection, Kind::kConnection);
    if (parent == nullptr) return im.FailHandle(kInvalidHandle);
    if (verb.empty()) verb = "GET";
    if (!IsToken(verb)) return im.FailHandle(kInvalidParameter);
    long httpVersion = 0;
    if (version.empty() || SameName(version, "HTTP/1.1")) {
      httpVersion = CURL_HTTP_VERSION_1_1;
    } else if (SameName(version, "HTTP/1.0")) {
      httpVersion = CURL_HTTP_VERSION_1_0;
    } else {
      return im.FailHandle(kInvalidParameter);
    }
    if (HasControl(objectName)) return im.FailHandle(kInvalidUrl);
    auto node = std::make_unique<Node>(Kind::kRequest);
    node->parent = connection;
    node->timeouts = parent->timeouts;
    node->verb = std::string(verb);
    node->target = RequestTarget(objectName);
    node->httpVersion = httpVersion;
    node->flags = flags;
    return im.Add(std::move(node));
  } catch (const std::bad_alloc&) {
    return im.FailHandle(kNotEnoughMemory);
  } catch (...) {
    return im.FailHandle(kInternalError);
  }
}

bool CurlInternet::AddRequestHeaders(Handle request, std::string_view headers,
                                     std::uint32_t modifiers) {
  (void)modifiers;  // every line replaces a header of its name or is added
  Impl& im = *impl_;
  const std::lock_guard lock(im.mutex);
  try {
    Node* node = im.Find(request, Kind::kRequest);
    if (node == nullptr) return im.Fail(kInvalidHandle);

    // Check every line before changing anything.
    std::vector<std::pair<std::string_view, std::string_view>> lines;  // name, value
    while (!headers.empty()) {
      const std::size_t end = headers.find("\r\n");
      const std::string_view line = headers.substr(0, end);
      headers.remove_prefix(end == std::string_view::npos ? headers.size() : end + 2);
      if (line.empty()) continue;
      if (line.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
        return im.Fail(kInvalidParameter);
      }
      const std::size_t colon = line.find(':');
      if (colon == std::string_view::npos) return im.Fail(kInvalidParameter);
      const std::string_view name = line.substr(0, colon);
      // The body's framing is this boundary's own business.
      if (!IsToken(name) || SameName(name, "Content-Length") ||
          SameName(name, "Transfer-Encoding")) {
        return im.Fail(kInvalidParameter);
      }
      lines.emplace_back(name, TrimSpace(line.substr(colon + 1)));
    }
    if (lines.empty()) return im.Fail(kInvalidParameter);

    for (const auto& [name, value] : lines) {
      auto& list = node->headers;
      const std::string_view headerName = name;  // clang before 16 cannot capture a binding
      const auto it = std::find_if(list.begin(), list.end(), [&](const std::string& existing) {
        return SameName(NameOf(existing), headerName);
      });
      if (value.empty()) {  // an empty value removes the header
        if (it != list.end()) list.erase(it);
        continue;
      }
      std::string text = std::string(name) + ": " + std::string(value);
      if (it != list.end()) {
        *it = std::move(text);
      } else {
        list.push_back(std::move(text));
      }
    }
    return true;
  } catch (const std::bad_alloc&) {
    return im.Fail(kNotEnoughMemory);
  } catch (...) {
    return im.Fail(kInternalError);
  }
}

bool CurlInternet::SetOption(Handle handle, std::uint32_t option, std::uint32_t value) {
  Impl& im = *impl_;
  const std::lock_guard lock(im.mutex);
  const auto it = im.nodes.find(handle);
  if (it == im.nodes.end()) return im.Fail(kInvalidHandle);
  Timeouts& timeouts = it->second->timeouts;  // requests opened later inherit them
  switch (option) {
    case inet::kOptionConnectTimeout:
      timeouts.connectMs = value;
      return true;
    case inet::kOptionSendTimeout:
      timeouts.sendMs = value;
      return true;
    case inet::kOptionReceiveTimeout:
      timeouts.receiveMs = value;
      return true;
    default:
      return im.Fail(kInvalidParameter);
  }
}

bool CurlInternet::SendRequest(Handle request, std::optional<std::string_view> body) {
  Impl& im = *impl_;
  const std::lock_guard lock(im.mutex);
  try {
    Node* node = im.Find(request, Kind::kRequest);
    if (node == nullptr) return im.Fail(kInvalidHandle);
    if (node->verb == "HEAD" && body.has_value() && !body->empty()) {
      return im.Fail(kInvalidParameter);
    }
    const Node* connection = im.Find(node->parent, Kind::kConnection);
    const Node* session = connection ? im.Find(connection->parent, Kind::kSession) : nullptr;
    if (session == nullptr) return im.Fail(kInternalError);

    node->transfer.reset();  // sending again starts a fresh exchange
    if (const std::uint32_t error = im.Start(*session, *connection, *node, body)) {
      return im.Fail(error);
    }
    Transfer& t = *node->transfer;
    std::uint32_t error = im.Drive(t, node->timeouts, HeadersIn);
    // Once the headers are in, a failure later in the body is for the reads to
    // report, after the bytes that came before it. A transfer that ended before
    // the blank line closing the headers was cut short, however libcurl saw it.
    if (error == kNoError && !t.headersDone) {
      if (t.done && t.result != CURLE_OK) {
        error = t.FinalError();
      } else {
        error = t.error != kNoError ? t.error : kConnectionAborted;
      }
    }
    if (error != kNoError) {
      node->transfer.reset();
      return im.Fail(error);
    }
    return true;
  } catch (const std::bad_alloc&) {
    return im.Fail(kNotEnoughMemory);
  } catch (...) {
    return im.Fail(kInternalError);
  }
}

bool CurlInternet::ReadFile(Handle request, std::uint8_t* buffer, std::uint32_t wanted,
                            std::uint32_t& bytesRead) {
  bytesRead = 0;
  Impl& im = *impl_;
  const std::lock_guard lock(im.mutex);
  Node* node = im.Find(request, Kind::kRequest);
  if (node == nullptr) return im.Fail(kInvalidHandle);
  if (buffer == nullptr && wanted > 0) return im.Fail(kInvalidParameter);
  if (!node->transfer) return im.Fail(kIncorrectHandleState);
  Transfer& t = *node->transfer;

  t.dst = buffer;
  t.dstCap = wanted;
  t.dstLen = 0;
  t.DrainStage();
  if (t.error == kNoError && t.dstLen < t.dstCap && !t.done) {
    if (t.paused) {  // staging is empty: let libcurl re-deliver what it holds
      t.paused = false;
      const CURLcode rc = curl_easy_pause(t.easy, CURLPAUSE_CONT);
      if (rc != CURLE_OK) t.error = SetupError(rc);
    }
    if (t.error == kNoError) t.error = im.Drive(t, node->timeouts, ReadBufferFull);
  }
  if (t.error == kNoError && t.done && t.result != CURLE_OK && !t.Staged()) {
    t.error = t.FinalError();
  }
  bytesRead = static_cast<std::uint32_t>(t.dstLen);
  t.dst = nullptr;
  t.dstCap = t.dstLen = 0;
  // A failure is reported once every good byte before it has been handed out;
  // bytesRead still holds those of this call.
  if (t.error != kNoError && !t.Staged()) return im.Fail(t.error);
  return true;
}

bool CurlInternet::CloseHandle(Handle handle) {
  Impl& im = *impl_;
  const std::lock_guard lock(im.mutex);
  if (im.nodes.find(handle) == im.nodes.end()) return im.Fail(kInvalidHandle);
  im.Close(handle);
  return true;
}

std::uint32_t CurlInternet::LastError() const {
  return impl_->lastError.load();
}

}  // namespace vizadavu::platform

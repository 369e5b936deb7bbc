// Building a transfer's easy handle from what the handle table recorded.
#include <algorithm>
#include <cstdlib>
#include <new>

#include "platform/CurlErrors.h"
#include "platform/CurlTransfer.h"
#include "platform/Internet.h"
#include "platform/RequestText.h"

namespace vizadavu::platform {
namespace {

constexpr std::uint32_t kNoLimit = 0xFFFFFFFF;

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

}  // namespace

CURLMcode (*g_curlMultiAddHandle)(CURLM* multi, CURL* easy) = curl_multi_add_handle;

std::unique_ptr<CurlTransfer> CurlTransfer::Start(const TransferSetup& setup,
                                                  std::optional<std::string_view> body,
                                                  ErrorCode& error) {
  std::unique_ptr<CurlTransfer> t(new CurlTransfer());
  error = t->Configure(setup, body);
  if (error != codes::None) t.reset();
  return t;
}

ErrorCode CurlTransfer::Configure(const TransferSetup& setup,
                                  std::optional<std::string_view> body) {
  timeouts_ = setup.timeouts;
  waitCallback_ = setup.waitCallback;
  memory_ = setup.memory != nullptr ? setup.memory : &SystemMemory();
  stage_ = static_cast<std::uint8_t*>(memory_->Allocate(setup.stageBytes, false));
  multi_ = curl_multi_init();
  easy_ = curl_easy_init();
  if (stage_ == nullptr || multi_ == nullptr || easy_ == nullptr) return codes::NotEnoughMemory;
  stageCap_ = setup.stageBytes;

  const bool secure = (setup.flags & inet::kFlagSecure) != 0;
  const std::string origin = std::string(secure ? "https" : "http") + "://" +
                             std::string(setup.host) + ":" + std::to_string(setup.port);

  // The request target goes out byte for byte through CURLOPT_REQUEST_TARGET. A
  // forward proxy needs the whole URL in the request line instead, which libcurl
  // builds from CURLOPT_URL; it then percent-encodes bytes >= 0x80 in the path,
  // and '#' must be escaped so it is not cut off as a fragment.
  const bool viaUrl = !secure && !setup.direct && EnvironmentMayProxyHttp();
  std::string url = origin;
  if (viaUrl) {
    for (const char c : setup.target) {
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
  const std::vector<std::string>& own = *setup.headers;
  for (const std::string& line : own) {
    curl_slist* next = curl_slist_append(headers_, line.c_str());
    if (next == nullptr) return codes::NotEnoughMemory;
    headers_ = next;
  }
  for (const char* name : {"Accept", "Expect", "Content-Type", "Proxy-Connection"}) {
    const bool given = std::any_of(own.begin(), own.end(), [&](const std::string& line) {
      return SameName(NameOf(line), name);
    });
    if (given) continue;
    curl_slist* next = curl_slist_append(headers_, (std::string(name) + ":").c_str());
    if (next == nullptr) return codes::NotEnoughMemory;
    headers_ = next;
  }

  CURL* e = easy_;
  CURLcode rc = CURLE_OK;
  const auto set = [&](CURLcode r) {
    if (rc == CURLE_OK) rc = r;
  };
  const std::string target(setup.target);
  const std::string agent(setup.agent);
  set(curl_easy_setopt(e, CURLOPT_URL, url.c_str()));
  if (!viaUrl) set(curl_easy_setopt(e, CURLOPT_REQUEST_TARGET, target.c_str()));
  set(curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https"));
  set(curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L));
  set(curl_easy_setopt(e, CURLOPT_HTTP_VERSION, setup.httpVersion));
  set(curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L));
  set(curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L));
  set(curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L));
  set(curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers_));
  set(curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L));
  if (!agent.empty()) set(curl_easy_setopt(e, CURLOPT_USERAGENT, agent.c_str()));
  if (setup.direct) set(curl_easy_setopt(e, CURLOPT_PROXY, ""));

  const std::uint32_t connectMs = setup.timeouts.connectMs;
  set(curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS,
                       connectMs == kNoLimit ? 0L : static_cast<long>(connectMs)));

  set(curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody));
  set(curl_easy_setopt(e, CURLOPT_WRITEDATA, this));
  set(curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader));
  set(curl_easy_setopt(e, CURLOPT_HEADERDATA, this));
  set(curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L));
  set(curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, OnProgress));
  set(curl_easy_setopt(e, CURLOPT_XFERINFODATA, this));
  set(curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, OnPrereq));
  set(curl_easy_setopt(e, CURLOPT_PREREQDATA, this));

  set(OpenSocketsCloseOnExec(e));
  if (secure) {
    tls_.ignoreLeafDates = (setup.flags & inet::kFlagIgnoreCertDateInvalid) != 0;
    set(ConfigureTls(e, tls_, (setup.flags & inet::kFlagIgnoreCertCnInvalid) == 0));
  }

  if (setup.post || (body.has_value() && !body->empty())) {
    // A POST always carries a Content-Length, 0 without a body. The body is
    // copied: it must outlive this call if the reply comes before it is sent.
    const std::string_view data = body.value_or(std::string_view{});
    uploadSize_ = static_cast<curl_off_t>(data.size());
    set(curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, uploadSize_));
    set(curl_easy_setopt(e, CURLOPT_COPYPOSTFIELDS, data.empty() ? "" : data.data()));
    if (!setup.post) set(curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, "GET"));
  } else {
    set(curl_easy_setopt(e, CURLOPT_HTTPGET, 1L));
  }
  if (rc != CURLE_OK) return SetupErrorForCurl(rc);

  const CURLMcode mc = g_curlMultiAddHandle(multi_, e);
  if (mc != CURLM_OK) {
    curl_easy_cleanup(easy_);  // never added: the destructor must not remove it
    easy_ = nullptr;
    return MultiErrorForCurl(mc);
  }
  return codes::None;
}

}  // namespace vizadavu::platform

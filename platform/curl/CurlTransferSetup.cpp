// Building a transfer's easy handle from what the handle table recorded.
#include <locale.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>

#include "platform/Ascii.h"
#include "platform/Internet.h"
#include "platform/RequestText.h"
#include "platform/curl/CurlErrors.h"
#include "platform/curl/CurlTransfer.h"
#include "platform/curl/Proxy.h"

namespace vizadavu::platform {
namespace {

constexpr std::uint32_t kNoLimit = 0xFFFFFFFF;

// The ASCII form of a host as it goes into a URL: an international name as
// libcurl's IDN support converts it ("xn--bcher-kva.example"), nullopt when it
// refuses the name or has no IDN support. libidn2 reads the name in the
// locale's character set, so the conversion runs under a UTF-8 locale for this
// thread only.
std::optional<std::string> AsciiHost(std::string_view host) {
  if (std::all_of(host.begin(), host.end(), [](char c) { return (c & 0x80) == 0; })) {
    return std::string(host);
  }
  const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  const locale_t previous = utf8 != nullptr ? uselocale(utf8) : nullptr;
  std::optional<std::string> ascii;
  char* part = nullptr;
  if (CURLU* url = curl_url()) {
    std::string whole = "http://";
    whole.append(host).append("/");
    if (curl_url_set(url, CURLUPART_URL, whole.c_str(), 0) == CURLUE_OK &&
        curl_url_get(url, CURLUPART_HOST, &part, CURLU_PUNYCODE) == CURLUE_OK) {
      ascii = std::string(part);
    }
    curl_free(part);
    curl_url_cleanup(url);
  }
  if (utf8 != nullptr) {
    uselocale(previous);
    freelocale(utf8);
  }
  return ascii;
}

}  // namespace

CurlLibrary& RealCurlLibrary() noexcept {
  static CurlLibrary real;
  return real;
}

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
  multi_ = curl_multi_init();
  easy_ = curl_easy_init();
  if (multi_ == nullptr || easy_ == nullptr) return codes::NotEnoughMemory;

  const bool secure = (setup.flags & inet::kFlagSecure) != 0;
  secure_ = secure;
  const std::optional<std::string> host = AsciiHost(setup.host);
  if (!host) return codes::InvalidUrl;
  const std::string port = std::to_string(setup.port);
  std::string url = secure ? "https://" : "http://";
  url.append(*host).append(":").append(port).append("/");

  // The request target goes out byte for byte through CURLOPT_REQUEST_TARGET,
  // through a forward proxy too, where it is the absolute URL. The proxy is
  // decided here, once, and libcurl is told exactly that.
  const std::string proxy =
      setup.direct ? std::string() : EnvironmentProxy(secure ? "https" : "http", setup.host);
  std::string target(setup.target);
  if (!secure && !proxy.empty()) {
    std::string absolute = "http://";
    absolute.append(*host);
    if (setup.port != 80) absolute.append(":").append(port);
    target = absolute.append(target);
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
      return EqualsIgnoreCase(NameOf(line), name);
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
  const std::string agent(setup.agent);
  set(curl_easy_setopt(e, CURLOPT_URL, url.c_str()));
  set(curl_easy_setopt(e, CURLOPT_REQUEST_TARGET, target.c_str()));
  set(curl_easy_setopt(e, CURLOPT_PROXY, proxy.c_str()));
  set(curl_easy_setopt(e, CURLOPT_NOPROXY, ""));
  set(curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https"));
  set(curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L));
  set(curl_easy_setopt(e, CURLOPT_HTTP_VERSION, setup.httpVersion));
  set(curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L));
  set(curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L));
  set(curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L));
  set(curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers_));
  set(curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L));
  if (!agent.empty()) set(curl_easy_setopt(e, CURLOPT_USERAGENT, agent.c_str()));

  const std::uint32_t connectMs = setup.timeouts.connectMs;
  set(curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS,
                       connectMs == kNoLimit ? 0L : static_cast<long>(connectMs)));

  set(curl_easy_setopt(e, CURLOPT_BUFFERSIZE, static_cast<long>(kReceiveBufferBytes)));
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
    set(ConfigureTls(e, tls_, *host, (setup.flags & inet::kFlagIgnoreCertCnInvalid) == 0));
  }

  // Taken out of the optional first: testing has_value() and the payload's size
  // in one condition lets GCC read the size of an empty optional, which memcheck
  // reports.
  const std::string_view data = body.value_or(std::string_view{});
  if (setup.post || !data.empty()) {
    // A POST always carries a Content-Length, 0 without a body. The body is
    // copied: it must outlive this call if the reply comes before it is sent.
    uploadSize_ = static_cast<curl_off_t>(data.size());
    set(curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, uploadSize_));
    set(curl_easy_setopt(e, CURLOPT_COPYPOSTFIELDS, data.empty() ? "" : data.data()));
    if (!setup.post) set(curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, "GET"));
  } else {
    set(curl_easy_setopt(e, CURLOPT_HTTPGET, 1L));
  }
  if (rc != CURLE_OK) return SetupErrorForCurl(rc);

  CurlLibrary& curl = setup.curl != nullptr ? *setup.curl : RealCurlLibrary();
  const CURLMcode mc = curl.AddHandle(multi_, e);
  if (mc != CURLM_OK) {
    curl_easy_cleanup(easy_);  // never added: the destructor must not remove it
    easy_ = nullptr;
    return MultiErrorForCurl(mc);
  }
  return codes::None;
}

}  // namespace vizadavu::platform

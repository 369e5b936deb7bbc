// The built-in internet service on Windows: WinINet, and the proxy its
// preconfigured access type uses.
#include <cstring>
#include <string>
#include <vector>

#include "platform/Ascii.h"
#include "platform/BuiltIn.h"
#include "platform/wininet/WinInetInternet.h"
#include "platform/wininet/WinInetRequest.h"

namespace vizadavu::platform {
namespace {

// The entries of a WinINet proxy or bypass list, separated by ';' or blanks.
std::vector<std::string_view> Entries(std::string_view list) {
  std::vector<std::string_view> entries;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= list.size(); ++i) {
    if (i == list.size() || list[i] == ';' || list[i] == ' ' || list[i] == '\t') {
      if (i > start) entries.push_back(list.substr(start, i - start));
      start = i + 1;
    }
  }
  return entries;
}

// Whether the bypass list names `host`: the host itself (case does not
// matter), or "<local>" for a name without a dot.
bool Bypassed(std::string_view host, std::string_view list) {
  for (const std::string_view entry : Entries(list)) {
    if (EqualsIgnoreCase(entry, host)) return true;
    if (entry == "<local>" && host.find('.') == std::string_view::npos &&
        host.find(':') == std::string_view::npos) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::unique_ptr<Internet> MakeBuiltInInternet(Memory& memory) {
  (void)memory;  // WinINet holds the reply; this boundary stages none of it
  return std::make_unique<WinInetInternet>();
}

// WinINet's own proxy settings for new sessions (the system's, under wine
// those of its registry and the http_proxy variable): the entry for the
// scheme ("http=" or "https="), else the one without a scheme.
std::string BuiltInProxy(std::string_view host, bool plain) {
  DWORD size = 0;
  InternetQueryOptionA(nullptr, INTERNET_OPTION_PROXY, nullptr, &size);
  if (size < sizeof(INTERNET_PROXY_INFO) || size > (1U << 20)) return "";
  std::vector<unsigned char> buffer(size);
  if (!InternetQueryOptionA(nullptr, INTERNET_OPTION_PROXY, buffer.data(), &size)) return "";
  INTERNET_PROXY_INFO info;
  std::memcpy(&info, buffer.data(), sizeof info);
  if (info.dwAccessType != INTERNET_OPEN_TYPE_PROXY || info.lpszProxy == nullptr) return "";
  const auto text = [](LPCTSTR p) { return p ? std::string_view(p) : std::string_view(); };
  if (Bypassed(host, text(info.lpszProxyBypass))) return "";
  const std::string_view scheme = plain ? "http=" : "https=";
  std::string_view any;
  for (const std::string_view entry : Entries(text(info.lpszProxy))) {
    if (entry.size() > scheme.size() && EqualsIgnoreCase(entry.substr(0, scheme.size()), scheme)) {
      return std::string(entry.substr(scheme.size()));
    }
    if (entry.find('=') == std::string_view::npos && any.empty()) any = entry;
  }
  return std::string(any);
}

}  // namespace vizadavu::platform

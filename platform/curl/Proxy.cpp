#include "platform/curl/Proxy.h"

#include "platform/Ascii.h"
#include "platform/BuiltIn.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace vizadavu::platform {
namespace {

std::optional<std::string> Variable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

struct Address {
  int family = 0;  // AF_INET or AF_INET6; 0: not an address
  std::array<unsigned char, 16> bytes{};
};

Address ParseAddress(std::string_view text) {
  Address address;
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
    text = text.substr(1, text.size() - 2);
  }
  if (text.empty() || text.size() >= 64) return address;
  const std::string copy(text);
  if (inet_pton(AF_INET, copy.c_str(), address.bytes.data()) == 1) {
    address.family = AF_INET;
  } else if (inet_pton(AF_INET6, copy.c_str(), address.bytes.data()) == 1) {
    address.family = AF_INET6;
  }
  return address;
}

// An address entry, "10.0.0.0/8" or "::1": the first `bits` bits agree (all
// of them without a prefix length).
bool AddressMatches(const Address& host, std::string_view entry) {
  std::optional<unsigned> bits;
  if (const std::size_t slash = entry.find('/'); slash != std::string_view::npos) {
    unsigned value = 0;
    for (const char c : entry.substr(slash + 1)) {
      if (c < '0' || c > '9' || value > 128) return false;
      value = value * 10 + static_cast<unsigned>(c - '0');
    }
    bits = value;
    entry = entry.substr(0, slash);
  }
  const Address net = ParseAddress(entry);
  if (net.family != host.family) return false;
  const unsigned size = host.family == AF_INET ? 32 : 128;
  const unsigned count = bits && *bits > 0 ? std::min(*bits, size) : size;
  for (unsigned i = 0; i < count; ++i) {
    const unsigned mask = 0x80u >> (i % 8);
    if ((host.bytes[i / 8] & mask) != (net.bytes[i / 8] & mask)) return false;
  }
  return true;
}

bool NameMatches(std::string_view host, std::string_view entry) {
  if (!entry.empty() && entry.back() == '.') entry.remove_suffix(1);
  if (!entry.empty() && entry.front() == '.') entry.remove_prefix(1);
  if (entry.empty()) return false;
  if (entry.size() == host.size()) return EqualsIgnoreCase(entry, host);
  return entry.size() < host.size() && host[host.size() - entry.size() - 1] == '.' &&
         EqualsIgnoreCase(entry, host.substr(host.size() - entry.size()));
}

}  // namespace

bool NoProxyMatches(std::string_view host, std::string_view list) {
  if (list.empty()) return false;
  if (list == "*") return true;
  const Address address = ParseAddress(host);
  if (address.family == 0 && !host.empty() && host.back() == '.') host.remove_suffix(1);
  const auto separator = [](char c) { return c == ',' || c == ' ' || c == '\t'; };
  while (!list.empty()) {
    const auto start = std::find_if_not(list.begin(), list.end(), separator);
    const auto end = std::find_if(start, list.end(), separator);
    const std::string_view entry(start, static_cast<std::size_t>(end - start));
    list.remove_prefix(static_cast<std::size_t>(end - list.begin()));
    if (entry.empty()) continue;
    if (address.family != 0 ? AddressMatches(address, entry) : NameMatches(host, entry)) {
      return true;
    }
  }
  return false;
}

std::string EnvironmentProxy(std::string_view scheme, std::string_view host) {
  std::string name;
  for (const char c : scheme) name += AsciiLower(c);
  name += "_proxy";
  std::optional<std::string> proxy = Variable(name);
  if (!proxy && name != "http_proxy") {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; });
    proxy = Variable(name);
  }
  if (!proxy) proxy = Variable("all_proxy");
  if (!proxy) proxy = Variable("ALL_PROXY");
  if (!proxy || proxy->empty()) return {};
  std::optional<std::string> noProxy = Variable("no_proxy");
  if (!noProxy) noProxy = Variable("NO_PROXY");
  if (noProxy && NoProxyMatches(host, *noProxy)) return {};
  return *proxy;
}

std::string BuiltInProxy(std::string_view host, bool plain) {
  return EnvironmentProxy(plain ? "http" : "https", host);
}

}  // namespace vizadavu::platform

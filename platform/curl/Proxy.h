// Which forward proxy a request goes through, decided once from the
// environment with libcurl's rules, so that the boundary knows how to write the
// request line and a program can name the proxy when a transfer fails.
#pragma once

#include <string>
#include <string_view>

namespace vizadavu::platform {

// The proxy for a request to `host` (a name or an IP address, IPv6 with or
// without brackets) by `scheme` ("http" or "https"), or "" for none:
// <scheme>_proxy, then <SCHEME>_PROXY (never HTTP_PROXY: a CGI program gets that
// from the client's "Proxy:" header), then all_proxy, then ALL_PROXY; the first
// that is set decides (set but empty: no proxy). no_proxy (or NO_PROXY) lists
// the hosts reached directly; see NoProxyMatches.
std::string EnvironmentProxy(std::string_view scheme, std::string_view host);

// Whether `host` is in a no_proxy list: "*" alone matches every host; otherwise
// the entries, separated by commas or blanks, are host names (matching the name
// itself and every name below it: "example.test" and ".example.test" both match
// "www.example.test" but not "badexample.test") or IP addresses, optionally
// with a prefix length ("10.0.0.0/8", "::1"), matched against hosts given as
// addresses. Case does not matter; a trailing dot is ignored.
bool NoProxyMatches(std::string_view host, std::string_view list);

}  // namespace vizadavu::platform

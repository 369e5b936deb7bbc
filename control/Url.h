// The URL split the way the transfer needs it: server and object name, then
// the server's host and port.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "control/State.h"

namespace vizadavu::detail {

struct UrlParts {
  Text ServerName;
  Text ObjectName;  // path and query, without the fragment; empty or starting with "/"
};

// "scheme://server/path" skips the scheme and both slashes ("scheme:/server/path"
// the scheme and its one slash); a URL without a scheme ("example.test",
// "127.0.0.1:8080/form") is server and path as it stands. The server ends at the
// first "/", "?" or "#"; a query right after it gets a "/" in front
// ("h:8080?q=1" is "/?q=1"), and the fragment ("#sec") is dropped. nullopt when
// the URL is empty or ends right after its scheme ("http:/").
std::optional<UrlParts> SplitUrl(const Text& url);

// Whether a control character (U+0000 to U+001F, U+007F) is anywhere in the
// URL, the scheme and the fragment included: such a URL is invalid as a whole,
// whichever of its parts would be sent.
bool HasControlCharacter(const Text& url);

struct Endpoint {
  Text host;  // without IPv6 brackets
  std::uint16_t port;
};

// The host and port of a server name: "host", "host:8080", "[::1]:8080", "::1".
// Without a port, 443 (or 80 when secureModeOff). nullopt for an empty host, a
// port that is not a number in 1..65535, or user information ("user:pass@host").
std::optional<Endpoint> SplitServer(const Text& serverName, bool secureModeOff);

// Where a request goes, in the code page, as the boundary takes it.
struct RequestAddress {
  std::string host;  // without IPv6 brackets
  std::uint16_t port;
  std::string object;
};

// The split URL as the boundary takes it. In the object name a character the
// code page lacks is "%3F" (its "?" escaped), so the target keeps its shape.
// nullopt (an invalid URL) when the server is not a valid host and port
// (SplitServer), or when the host or the object name could change the
// request's structure once in the code page: a control byte, a space or a URL
// delimiter in the host, a control byte in the object name. This is where the
// control decides, before anything is sent.
std::optional<RequestAddress> AddressOf(const UrlParts& parts, bool secureModeOff);

}  // namespace vizadavu::detail

// Checks and shapes of the texts a caller hands the internet boundary, before
// any of them goes into a request line or a header. Pure functions over bytes in
// the control's code page; they treat every argument as hostile.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vizadavu::platform {

bool IsControlByte(unsigned char c);
bool HasControlByte(std::string_view text);
// RFC 9110 token characters (method and header names); false when empty.
bool IsToken(std::string_view text);
std::string_view TrimSpace(std::string_view text);
// The name part of a "Name: value" line.
std::string_view NameOf(std::string_view line);

// Whether the user agent can go into a header line: no control byte but tab.
bool IsValidAgent(std::string_view agent);

// The host as it goes into a URL: a name or IPv4 address as given, an IPv6
// literal (given without brackets, optionally with a %zone) bracketed with the
// zone's '%' escaped; a name with bytes outside ASCII in UTF-8. nullopt when
// it is empty or holds anything that would change the URL's structure.
std::optional<std::string> UrlHost(std::string_view host);

// The one rule for what may go into a request, for the control deciding
// whether a URL is valid and for the boundary refusing what it is handed
// directly: a host UrlHost takes, an object name without a control byte.
bool IsValidHost(std::string_view host);
bool IsValidObjectName(std::string_view object);

// The object name as the request target: "/" when empty, a leading "/" added
// when missing, spaces as %20, every other byte as given.
std::string RequestTarget(std::string_view object);

// "Name: value" lines separated by CR LF, split into trimmed name and value
// (empty lines skipped). nullopt when a line holds a bare CR, LF or NUL, has no
// ':' or a name that is not a token, names Content-Length or Transfer-Encoding
// (framing is the boundary's own), or when there is no line at all.
using HeaderLines = std::vector<std::pair<std::string_view, std::string_view>>;
std::optional<HeaderLines> ParseHeaderLines(std::string_view headers);

}  // namespace vizadavu::platform

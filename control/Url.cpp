#include "control/Url.h"

#include <algorithm>
#include <string_view>

#include "platform/CodePage.h"
#include "platform/RequestText.h"

namespace vizadavu::detail {
namespace {

bool IsPort(std::u16string_view digits, std::uint16_t& port) {
  if (digits.empty() || digits.size() > 5) return false;
  std::uint32_t value = 0;
  for (char16_t c : digits) {
    if (c < u'0' || c > u'9') return false;
    value = value * 10 + static_cast<std::uint32_t>(c - u'0');
  }
  if (value == 0 || value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

// The object name in the code page. A character it has no code for is "%3F",
// its substitute escaped: a bare "?" would start a query inside the path. A
// two-byte character goes as its two bytes escaped, since a second byte may be
// a backslash or another character that means something in a path (U+8868 in
// 932: "%95%5C").
std::string ObjectBytes(const Text& object) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string bytes;
  bytes.reserve(object.size());
  for (std::size_t i = 0; i < object.size();) {
    bool ok = false;
    const std::uint16_t code = platform::CharToAnsi(object[i], ok);
    if (!ok) {
      bytes += "%3F";
    } else if (code <= 0xFF) {
      bytes += static_cast<char>(code);
    } else {
      for (const unsigned byte : {unsigned{code} >> 8, unsigned{code} & 0xFFu})
        bytes.append({'%', kHex[byte >> 4], kHex[byte & 0xF]});
    }
    i += platform::CharUnits(object.data(), i, object.size());
  }
  return bytes;
}

}  // namespace

bool HasControlCharacter(const Text& url) {
  return std::any_of(url.begin(), url.end(), [](char16_t c) { return c < 0x20 || c == 0x7F; });
}

std::optional<UrlParts> SplitUrl(const Text& url) {
  if (url.empty()) return std::nullopt;
  std::u16string_view rest = url;
  // A scheme is only looked for before the query or fragment starts.
  const std::size_t slash = url.find(u'/');
  const bool beforeQuery = slash < url.find_first_of(u"?#");
  if (beforeQuery && slash + 1 < url.size() && url[slash + 1] == u'/') {
    rest.remove_prefix(slash + 2);  // "scheme://server/path"
  } else if (beforeQuery && slash > 0 && url[slash - 1] == u':') {
    if (slash + 1 == url.size()) return std::nullopt;  // "http:/" names no server
    rest.remove_prefix(slash + 1);                     // "scheme:/server/path"
  }
  // The server ends where the path, the query or the fragment starts; the
  // fragment belongs to the client and is never sent.
  const std::size_t end = rest.find_first_of(u"/?#");
  if (end == std::u16string_view::npos) return UrlParts{Text(rest), Text()};
  std::u16string_view object = rest.substr(end);
  object = object.substr(0, object.find(u'#'));
  Text objectName;
  objectName.reserve(object.size() + 1);
  if (!object.empty() && object.front() != u'/') objectName.push_back(u'/');
  objectName.append(object);
  return UrlParts{Text(rest.substr(0, end)), std::move(objectName)};
}

std::optional<Endpoint> SplitServer(const Text& serverName, bool secureModeOff) {
  std::uint16_t port = secureModeOff ? 80 : 443;
  std::u16string_view name = serverName;
  std::u16string_view host = name;
  std::u16string_view portText;
  bool hasPort = false;
  if (!name.empty() && name.front() == u'[') {
    const std::size_t close = name.find(u']');
    if (close == std::u16string_view::npos) return std::nullopt;
    host = name.substr(1, close - 1);
    const std::u16string_view after = name.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != u':') return std::nullopt;
      portText = after.substr(1);
      hasPort = true;
    }
  } else if (const std::size_t colon = name.find(u':');
             colon != std::u16string_view::npos &&
             name.find(u':', colon + 1) == std::u16string_view::npos) {
    // Exactly one colon: host and port. More than one is a bare IPv6 address.
    host = name.substr(0, colon);
    portText = name.substr(colon + 1);
    hasPort = true;
  }
  if (host.empty()) return std::nullopt;
  // User name and password ("user:pass@host") are not supported: refused
  // rather than sent to a host of that odd name.
  if (name.find(u'@') != std::u16string_view::npos) return std::nullopt;
  // "host:" with nothing after the colon means the default port.
  if (hasPort && !portText.empty() && !IsPort(portText, port)) return std::nullopt;
  return Endpoint{Text(host), port};
}

std::optional<RequestAddress> AddressOf(const UrlParts& parts, bool secureModeOff) {
  const auto endpoint = SplitServer(parts.ServerName, secureModeOff);
  if (!endpoint) return std::nullopt;
  RequestAddress address{TextToAnsi(endpoint->host), endpoint->port, ObjectBytes(parts.ObjectName)};
  if (!platform::IsValidHost(address.host) || !platform::IsValidObjectName(address.object)) {
    return std::nullopt;
  }
  return address;
}

}  // namespace vizadavu::detail

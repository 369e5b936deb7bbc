#include "control/Encoding.h"

#include <algorithm>
#include <array>

#include "platform/CodePage.h"

namespace vizadavu::detail {
namespace {

constexpr std::u16string_view kPassThrough =
    u"1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz:/.?=_-$(){}~&";

// For every ASCII character: 1 = passes unchanged.
constexpr std::array<bool, 128> MakePassTable() {
  std::array<bool, 128> table{};
  for (char16_t c : kPassThrough) table[c] = true;
  return table;
}
constexpr std::array<bool, 128> kPass = MakePassTable();

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

}  // namespace

std::optional<UrlParts> SplitUrl(const Text& url) {
  if (url.empty()) return std::nullopt;
  std::u16string_view rest = url;
  const std::size_t slash = url.find(u'/');
  if (slash != Text::npos && slash + 1 < url.size() && url[slash + 1] == u'/') {
    rest.remove_prefix(slash + 2);  // "scheme://server/path"
  } else if (slash != Text::npos && slash > 0 && url[slash - 1] == u':') {
    if (slash + 1 == url.size()) return std::nullopt;  // "http:/" names no server
    rest.remove_prefix(slash + 1);                     // "scheme:/server/path"
  }
  const std::size_t b = rest.find(u'/');
  if (b == std::u16string_view::npos) return UrlParts{Text(rest), Text()};
  return UrlParts{Text(rest.substr(0, b)), Text(rest.substr(b))};
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
  // "host:" with nothing after the colon means the default port.
  if (hasPort && !portText.empty() && !IsPort(portText, port)) return std::nullopt;
  return Endpoint{Text(host), port};
}

void AppendUrlEncoded(std::string& out, std::u16string_view raw, bool escapeSeparators) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char16_t c : raw) {
    if (c < 128 && kPass[c] && !(escapeSeparators && (c == u'&' || c == u'='))) {
      out.push_back(static_cast<char>(c));
    } else if (c == u' ') {
      out.push_back('+');
    } else {
      const std::uint8_t code = platform::CharToAnsi(c);
      const char escaped[3] = {'%', kHex[code >> 4], kHex[code & 0xF]};
      out.append(escaped, 3);
    }
  }
}

std::optional<std::string> EncodeFormBody(const std::vector<FormVar>& vars, Long count) {
  if (count < 1 || vars.empty()) return std::nullopt;
  std::string body;
  const std::size_t last = std::min(static_cast<std::size_t>(count), vars.size() - 1);
  for (std::size_t i = 1; i <= last; ++i) {
    const FormVar& var = vars[i];
    const std::size_t first = var.Value.find_first_not_of(u' ');
    if (var.Name.empty() || first == Text::npos) continue;
    if (!body.empty()) body.push_back('&');
    AppendUrlEncoded(body, var.Name, true);
    body.push_back('=');
    AppendUrlEncoded(body, var.Value, true);
  }
  if (body.empty()) return std::nullopt;
  return body;
}

}  // namespace vizadavu::detail

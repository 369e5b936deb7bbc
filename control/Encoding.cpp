#include "control/Encoding.h"

#include <algorithm>
#include <array>

#include "platform/CodePage.h"

namespace vizadavu::detail {
namespace {

constexpr std::u16string_view kPassThrough =
    u"1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz:/.?=_-$(){}~&";

// For every character below 256, what the encoder writes: kPass (itself), kPlus
// ("+") or kEscape ("%XX" of its code-page byte, which for these is the
// character itself). Names and values also escape "&" and "=".
enum Action : std::uint8_t { kEscape, kPass, kPlus };
using ActionTable = std::array<Action, 256>;

constexpr ActionTable MakeActions(bool escapeSeparators) {
  ActionTable table{};
  for (char16_t c : kPassThrough) table[c] = kPass;
  table[u' '] = kPlus;
  if (escapeSeparators) table[u'&'] = table[u'='] = kEscape;
  return table;
}
constexpr ActionTable kUrlActions = MakeActions(false);
constexpr ActionTable kFieldActions = MakeActions(true);

// Encodes into out[start..], which has room for three characters per input
// character; returns the end of what was written.
template <class Char>
Char* Encode(std::u16string_view raw, const ActionTable& actions, Char* out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const char16_t* p = raw.data();
  const char16_t* const end = p + raw.size();
  while (p != end) {
    const char16_t c = *p++;
    const Action action = c < 256 ? actions[c] : kEscape;
    if (action == kPass) {
      *out++ = static_cast<Char>(c);
    } else if (action == kPlus) {
      *out++ = static_cast<Char>('+');
    } else {
      std::uint8_t code = static_cast<std::uint8_t>(c);
      if (c >= 256) {
        code = platform::CharToAnsi(c);
        // A surrogate pair is one character: one "%3F" for both units.
        if ((c & 0xFC00) == 0xD800 && p != end && (*p & 0xFC00) == 0xDC00) ++p;
      } else if (c >= 0x80 && c < 0xA0) {
        code = platform::CharToAnsi(c);
      }
      out[0] = static_cast<Char>('%');
      out[1] = static_cast<Char>(kHex[code >> 4]);
      out[2] = static_cast<Char>(kHex[code & 0xF]);
      out += 3;
    }
  }
  return out;
}

template <class String>
void AppendEncoded(String& out, std::u16string_view raw, const ActionTable& actions) {
  const std::size_t start = out.size();
  out.resize(start + raw.size() * 3);
  auto* end = Encode(raw, actions, out.data() + start);
  out.resize(static_cast<std::size_t>(end - out.data()));
}

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

Text URLEncode(std::u16string_view raw) {
  Text out;
  AppendEncoded(out, raw, kUrlActions);
  return out;
}

void AppendFieldEncoded(platform::SecretString& out, std::u16string_view raw) {
  AppendEncoded(out, raw, kFieldActions);
}

std::optional<platform::SecretString> EncodeFormBody(std::span<const FormVar> vars, Long count) {
  if (count < 1 || vars.empty()) return std::nullopt;
  // Larger than the short-string buffer from the start, so that no byte of the
  // body is ever kept inside the object (which moves and is not wiped).
  platform::SecretString body;
  body.reserve(64);
  const std::size_t last = std::min(static_cast<std::size_t>(count), vars.size() - 1);
  for (std::size_t i = 1; i <= last; ++i) {
    const FormVar& var = vars[i];
    const std::size_t first = var.Value.find_first_not_of(u' ');
    if (var.Name.empty() || first == Text::npos) continue;
    if (!body.empty()) body.push_back('&');
    AppendFieldEncoded(body, var.Name);
    body.push_back('=');
    AppendFieldEncoded(body, var.Value);
  }
  if (body.empty()) return std::nullopt;
  return body;
}

}  // namespace vizadavu::detail

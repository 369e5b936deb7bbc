#include "platform/RequestText.h"

#include <algorithm>
#include <cstring>

#include "platform/Ascii.h"
#include "platform/CodePage.h"
#include "platform/Utf8.h"

namespace vizadavu::platform {
namespace {

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (AsciiLower(c) >= 'a' && AsciiLower(c) <= 'f');
}

// An IPv6 literal, optionally with a zone id, bracketed for a URL.
std::optional<std::string> BracketedIpv6(std::string_view name) {
  const std::size_t zone = name.find('%');
  if (zone + 1 == name.size()) return std::nullopt;  // "%" with no zone id
  std::string host = "[";
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (i < zone) {
      if (!IsHex(c) && c != ':' && c != '.') return std::nullopt;
      host += c;
    } else if (i == zone) {
      host += "%25";
    } else {
      const bool zoneChar = IsHex(c) || (AsciiLower(c) >= 'a' && AsciiLower(c) <= 'z') ||
                            c == '.' || c == '_' || c == '-' || c == '~';
      if (!zoneChar) return std::nullopt;
      host += c;
    }
  }
  return host + "]";
}

}  // namespace

bool IsControlByte(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

bool HasControlByte(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return IsControlByte(static_cast<unsigned char>(c)); });
}

bool IsToken(std::string_view text) {
  if (text.empty()) return false;
  return std::all_of(text.begin(), text.end(), [](char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
  });
}

std::string_view TrimSpace(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string_view NameOf(std::string_view line) {
  return line.substr(0, line.find(':'));
}

bool IsValidAgent(std::string_view agent) {
  return std::none_of(agent.begin(), agent.end(), [](char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return IsControlByte(c) && c != '\t';
  });
}

std::optional<std::string> UrlHost(std::string_view host) {
  if (host.empty()) return std::nullopt;
  if (host.find(':') != std::string_view::npos) return BracketedIpv6(host);
  bool ascii = true;
  // The byte after a lead byte is the second half of a character, not a
  // separator: U+8868 is 0x95 0x5C, a backslash second, in code page 932.
  bool second = false;
  for (const char ch : host) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsControlByte(c) || c == ' ' || (!second && std::strchr("/\\?#@[]:%", c) != nullptr)) {
      return std::nullopt;
    }
    ascii = ascii && c < 0x80;
    second = !second && IsLeadByte(c);
  }
  if (second) return std::nullopt;  // a lead byte with nothing after it
  if (ascii) return std::string(host);
  // A name with letters outside ASCII ("b\xFCcher.example" in the code page)
  // goes on in UTF-8, for the IDN conversion before the lookup.
  return ToUtf8(AnsiToCharacters(host));
}

bool IsValidHost(std::string_view host) {
  return UrlHost(host).has_value();
}

bool IsValidObjectName(std::string_view object) {
  return !HasControlByte(object);
}

std::string RequestTarget(std::string_view object) {
  std::string target;
  target.reserve(object.size() + 8);
  if (object.empty() || object.front() != '/') target += '/';
  for (const char c : object) {
    if (c == ' ') {
      target += "%20";
    } else {
      target += c;
    }
  }
  return target;
}

std::optional<HeaderLines> ParseHeaderLines(std::string_view headers) {
  HeaderLines lines;
  while (!headers.empty()) {
    const std::size_t end = headers.find("\r\n");
    const std::string_view line = headers.substr(0, end);
    headers.remove_prefix(end == std::string_view::npos ? headers.size() : end + 2);
    if (line.empty()) continue;
    if (line.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
      return std::nullopt;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const std::string_view name = line.substr(0, colon);
    if (!IsToken(name) || EqualsIgnoreCase(name, "Content-Length") ||
        EqualsIgnoreCase(name, "Transfer-Encoding")) {
      return std::nullopt;
    }
    lines.emplace_back(name, TrimSpace(line.substr(colon + 1)));
  }
  if (lines.empty()) return std::nullopt;
  return lines;
}

}  // namespace vizadavu::platform

// SplitUrl and SplitServer on arbitrary text. SplitUrl: the server and object
// together are a suffix of the URL, the object is empty or starts with "/", the
// server holds no "/"; "scheme://rest" splits rest, a URL without a scheme is
// server and path as written, and no character of a server is ever dropped. SplitServer: a
// non-empty host taken from the name, a port in 1..65535, and both security modes agree on
// everything but the default port.
#include <cstddef>
#include <cstdint>
#include <string>

#include "control/Encoding.h"
#include "fuzz/FuzzSupport.h"

namespace {

constexpr const char* kTarget = "fuzz_split_url";

bool EndsWith(const std::u16string& text, const std::u16string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void CheckServer(const std::u16string& serverName) {
  using vizadavu::detail::SplitServer;
  const auto plain = SplitServer(serverName, true);
  const auto secure = SplitServer(serverName, false);
  FUZZ_CHECK(plain.has_value() == secure.has_value());
  if (!plain) return;
  for (const auto* endpoint : {&*plain, &*secure}) {
    FUZZ_CHECK(!endpoint->host.empty());
    FUZZ_CHECK(endpoint->port >= 1);  // a uint16_t cannot exceed 65535
    FUZZ_CHECK(serverName.find(endpoint->host) != std::u16string::npos);
  }
  FUZZ_CHECK(plain->host == secure->host);
  // Only a defaulted port differs between the modes.
  if (plain->port != secure->port) FUZZ_CHECK(plain->port == 80 && secure->port == 443);
  // A name without ":" or "[" is all host, on the default port.
  if (serverName.find_first_of(u":[") == std::u16string::npos) {
    FUZZ_CHECK(plain->host == serverName);
    FUZZ_CHECK(plain->port == 80 && secure->port == 443);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string url = vizadavu::fuzz::TextFromBytes(data, size);
  const auto parts = vizadavu::detail::SplitUrl(url);

  if (!parts) {
    // Only an empty URL or one that ends right after its scheme gives nothing.
    FUZZ_CHECK(url.empty() || url.back() == u'/');
    CheckServer(url);  // SplitServer must cope with anything, too
    return 0;
  }
  const std::u16string& server = parts->ServerName;
  const std::u16string& object = parts->ObjectName;
  FUZZ_CHECK(EndsWith(url, server + object));
  FUZZ_CHECK(object.empty() || object.front() == u'/');
  FUZZ_CHECK(server.find(u'/') == std::u16string::npos);

  const std::size_t slash = url.find(u'/');
  if (slash == std::u16string::npos) {
    FUZZ_CHECK(server == url && object.empty());
  } else if (slash + 1 < url.size() && url[slash + 1] == u'/') {
    // "scheme://rest" (the scheme may be empty): rest is server and object.
    FUZZ_CHECK(server + object == url.substr(slash + 2));
  } else if (slash == 0 || url[slash - 1] != u':') {
    // No scheme in front of the first "/": the URL stands as written.
    FUZZ_CHECK(server + object == url);
  } else {
    // "scheme:/rest" with one slash: whether rest, the whole URL or nothing is
    // taken for the server, no character of it may be lost.
    FUZZ_CHECK(server.empty() || server + object == url.substr(slash + 1) ||
               server + object == url);
  }
  CheckServer(server);
  return 0;
}

// SplitUrl and SplitServer on arbitrary text. SplitUrl: server and object are
// written one after the other in the URL, the object is empty or starts with
// "/" and holds no fragment, the server holds no "/", "?" or "#". SplitServer: a
// non-empty host taken from the name, a port in 1..65535, and both security modes agree on
// everything but the default port.
#include <cstddef>
#include <cstdint>
#include <string>

#include "control/Url.h"
#include "fuzz/FuzzSupport.h"

namespace {

constexpr const char* kTarget = "fuzz_split_url";

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
  FUZZ_CHECK(object.empty() || object.front() == u'/');
  FUZZ_CHECK(server.find_first_of(u"/?#") == std::u16string::npos);
  FUZZ_CHECK(object.find(u'#') == std::u16string::npos);
  // The server is written in the URL, and so is the object (but for the "/"
  // put in front of a query that follows the server directly).
  FUZZ_CHECK(url.find(server) != std::u16string::npos);
  const std::u16string written = !object.empty() && object.compare(0, 2, u"/?") == 0 &&
                                         url.find(server + object.substr(1)) != std::u16string::npos
                                     ? object.substr(1)
                                     : object;
  FUZZ_CHECK(url.find(server + written) != std::u16string::npos);
  CheckServer(server);
  return 0;
}

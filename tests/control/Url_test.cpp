#include "control/Url.h"

#include <gtest/gtest.h>

#include "vizadavu/vizADAVU.h"

namespace vizadavu::detail {
namespace {

TEST(SplitUrl, SchemeServerAndPath) {
  struct Case {
    const char16_t* url;
    const char16_t* server;
    const char16_t* object;
  } cases[] = {
      {u"https://example.test", u"example.test", u""},
      {u"http://example.test/a/b?x=1", u"example.test", u"/a/b?x=1"},
      {u"http://host:8080/form", u"host:8080", u"/form"},
      {u"//host/p", u"host", u"/p"},
      {u"http://", u"", u""},
      // Without a scheme the whole URL is server and path.
      {u"example.test", u"example.test", u""},
      {u"127.0.0.1:8080/form", u"127.0.0.1:8080", u"/form"},
      {u"host/a//b", u"host", u"/a//b"},
      {u"http:/example.test/form", u"example.test", u"/form"},
      // The fragment is never sent; the server ends at "/", "?" or "#".
      {u"http://h/p?x=1#sec", u"h", u"/p?x=1"},
      {u"http://h:8080?q=1", u"h:8080", u"/?q=1"},
      {u"http://h#top", u"h", u""},
      {u"http://h?a=b#c/d", u"h", u"/?a=b"},
      {u"h?next=//x/y", u"h", u"/?next=//x/y"},
      {u"http://h/a#b#c", u"h", u"/a"},
      {u"http://b\u00fccher.example/", u"b\u00fccher.example", u"/"},
  };
  for (const Case& c : cases) {
    const auto parts = SplitUrl(c.url);
    ASSERT_TRUE(parts) << TextToUtf8(c.url);
    EXPECT_EQ(parts->ServerName, c.server) << TextToUtf8(c.url);
    EXPECT_EQ(parts->ObjectName, c.object) << TextToUtf8(c.url);
  }
  EXPECT_FALSE(SplitUrl(u""));
  EXPECT_FALSE(SplitUrl(u"http:/"));
}

TEST(SplitServer, PortsAndAddresses) {
  auto check = [](const char16_t* name, bool plain, const char16_t* host, std::uint16_t port) {
    const auto ep = SplitServer(name, plain);
    ASSERT_TRUE(ep) << TextToUtf8(name);
    EXPECT_EQ(ep->host, host);
    EXPECT_EQ(ep->port, port);
  };
  check(u"example.test", false, u"example.test", 443);
  check(u"example.test", true, u"example.test", 80);
  check(u"example.test:8080", false, u"example.test", 8080);
  check(u"example.test:", true, u"example.test", 80);
  check(u"[::1]:8080", true, u"::1", 8080);
  check(u"[::1]", false, u"::1", 443);
  check(u"::1", true, u"::1", 80);
  for (const char16_t* bad :
       {u"", u":80", u"host:0", u"host:65536", u"host:8o", u"host:123456", u"[::1", u"[::1]x",
        u"[]:80", u"user:pass@host", u"user@host:80", u"@host", u"[::1]@x"}) {
    EXPECT_FALSE(SplitServer(bad, true)) << TextToUtf8(bad);
  }
}

TEST(AddressOf, CodePageFormsAndWhatIsRefused) {
  const auto address = [](const char16_t* server, const char16_t* object) {
    return AddressOf(UrlParts{server, object}, true);
  };
  // Characters the code page has go on as its bytes, in host and object alike;
  // one it lacks (a surrogate pair too) is "%3F" in the object, "?" and refused in the host.
  const auto ok =
      address(u"b\u00fccher.example:8080", u"/caf\u00e9/\u4e2d\U0001F600?q=\u20ac\u4e2d");
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->host,
            "b\xFC"
            "cher.example");
  EXPECT_EQ(ok->port, 8080);
  EXPECT_EQ(ok->object, "/caf\xE9/%3F%3F?q=\x80%3F");
  EXPECT_TRUE(address(u"fe80::1%eth0", u""));
  for (const char16_t* host : {u"\u4e2d.test", u"a b", u"h\x7f", u"h\\x", u"fe80::g", u"[::1%]"})
    EXPECT_FALSE(address(host, u"/")) << TextToUtf8(host);
  EXPECT_FALSE(address(u"h", u"/\x01"));
  EXPECT_FALSE(address(u"h:0", u"/"));  // what SplitServer refuses
}

}  // namespace
}  // namespace vizadavu::detail

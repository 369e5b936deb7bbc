// The boundary's checks on the texts a caller hands it, as tables.
#include "platform/RequestText.h"

#include <gtest/gtest.h>

#include "platform/Ascii.h"

namespace vizadavu::platform {
namespace {

TEST(RequestText, UrlHostAcceptsNamesAndBracketsIpv6Literals) {
  struct Case {
    std::string_view host;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"example.test", "example.test"},
      {"127.0.0.1", "127.0.0.1"},
      {"\xE9t\xE9.test", "\xC3\xA9t\xC3\xA9.test"},  // code page to UTF-8, for the IDN lookup
      {"::1", "[::1]"},
      {"fe80::1%eth0", "[fe80::1%25eth0]"},
      {"::ffff:1.2.3.4", "[::ffff:1.2.3.4]"},
      // Anything that would change the URL's structure, or is no host at all.
      {"", std::nullopt},
      {"[::1]", std::nullopt},  // brackets belong to the URL, not to the host
      {"[]", std::nullopt},
      {"a b", std::nullopt},
      {"a\r\nb", std::nullopt},
      {std::string_view("a\0b", 3), std::nullopt},
      {"evil.example/x?", std::nullopt},
      {"user@host", std::nullopt},
      {"a\\b", std::nullopt},
      {"a#b", std::nullopt},
      {"a%41", std::nullopt},
      {"::1%", std::nullopt},     // a zone mark without a zone
      {"::g", std::nullopt},      // not hexadecimal
      {"::1%e/0", std::nullopt},  // a zone with a byte outside its set
      {"::1]:80", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(UrlHost(c.host), c.expected) << c.host;
}

TEST(RequestText, RequestTargetAddsTheSlashAndEscapesSpacesOnly) {
  EXPECT_EQ(RequestTarget(""), "/");
  EXPECT_EQ(RequestTarget("a"), "/a");
  EXPECT_EQ(RequestTarget("/a b/../%zz\xE9?q=1#f"), "/a%20b/../%zz\xE9?q=1#f");
}

TEST(RequestText, HeaderLinesSplitTrimmedOrRefusedWhole) {
  const auto lines = ParseHeaderLines("A: 1\r\n\r\nB-2:\t two \r\nC:");
  ASSERT_TRUE(lines);
  const HeaderLines expected = {{"A", "1"}, {"B-2", "two"}, {"C", ""}};
  EXPECT_EQ(*lines, expected);
  for (std::string_view bad : std::initializer_list<std::string_view>{
           "", "\r\n", "X-A: 1\nX-B: 2", "X-A: 1\rX-B: 2", "NoColon", "X-A: 1\r\nBad", ": empty",
           "Bad Name: 1", "content-length: 5", "Transfer-Encoding: chunked",
           std::string_view("X: a\0b", 6)}) {
    EXPECT_FALSE(ParseHeaderLines(bad)) << bad;
  }
}

TEST(RequestText, AgentTokensAndNames) {
  EXPECT_TRUE(IsValidAgent("Tormelo/1.0 (x\ty)"));
  EXPECT_TRUE(IsValidAgent(""));
  EXPECT_FALSE(IsValidAgent("a\r\nX: y"));
  EXPECT_FALSE(IsValidAgent("a\x7F"));
  EXPECT_TRUE(IsToken("X-Custom_1.~!#$%&'*+^`|"));
  EXPECT_FALSE(IsToken(""));
  EXPECT_FALSE(IsToken("a:b"));
  EXPECT_FALSE(IsToken(std::string_view("a\0", 2)));
  EXPECT_TRUE(EqualsIgnoreCase("Content-TYPE", "content-type"));
  EXPECT_FALSE(EqualsIgnoreCase("Content-Typ", "Content-Type"));
  EXPECT_EQ(NameOf("Name: value"), "Name");
  EXPECT_EQ(TrimSpace(" \t a b \t"), "a b");
}

}  // namespace
}  // namespace vizadavu::platform

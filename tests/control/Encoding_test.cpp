#include "control/Encoding.h"

#include <gtest/gtest.h>

#include "vizadavu/vizADAVU.h"

namespace vizadavu::detail {
namespace {

TEST(URLEncode, AlphabetSpacesAndEscapes) {
  vizADAVU control;
  EXPECT_EQ(control.URLEncode(u""), u"");
  EXPECT_EQ(control.URLEncode(u"50% off"), u"50%25+off");
  EXPECT_EQ(control.URLEncode(u"a&b=c"), u"a&b=c");
  const Text alphabet =
      u"1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz:/.?=_-$(){}~&";
  EXPECT_EQ(control.URLEncode(alphabet), alphabet);
  EXPECT_EQ(control.URLEncode(u"\t+\x01\x7f"), u"%09%2B%01%7F");
  EXPECT_EQ(control.URLEncode(u"\u00e9\u20ac\u00a0"), u"%E9%80%A0");
  // No code in the code page: the substitute "?" is escaped, never passed raw.
  EXPECT_EQ(control.URLEncode(u"\u4e2d"), u"%3F");
  // One character outside the BMP (a surrogate pair) is one "?"; so is every
  // surrogate that is not part of a pair.
  struct Case {
    const char16_t* raw;
    const char16_t* encoded;
  } surrogates[] = {
      {u"\U0001F600", u"%3F"},
      {u"a\U0001F600b\U0001F601\U0001F602", u"a%3Fb%3F%3F"},
      {u"\xD83Dx", u"%3Fx"},               // high surrogate alone
      {u"x\xD83D", u"x%3F"},               // at the very end
      {u"\xDE00", u"%3F"},                 // low surrogate alone
      {u"\xDE00\xD83D", u"%3F%3F"},        // the wrong order is two characters
      {u"\xD83D\xD83D\xDE00", u"%3F%3F"},  // a lone high, then a pair
  };
  for (const Case& c : surrogates)
    EXPECT_EQ(control.URLEncode(c.raw), c.encoded) << TextToUtf8(c.encoded);
  EXPECT_EQ(control.URLEncode(u"!\"#',;<>@[\\]^`|*"),
            u"%21%22%23%27%2C%3B%3C%3E%40%5B%5C%5D%5E%60%7C%2A");
  // Long input is encoded whole: no 16-bit length limit.
  const Text longText(100000, u' ');
  EXPECT_EQ(control.URLEncode(longText), Text(100000, u'+'));
}

std::vector<FormVar> Table(std::initializer_list<FormVar> entries) {
  std::vector<FormVar> table{FormVar{u"never", u"sent"}};
  table.insert(table.end(), entries);
  return table;
}

TEST(EncodeFormBody, FilledEntriesOnly) {
  const auto table = Table({{u"a", u"x y"}, {u"", u"z"}, {u"c", u"   "}});
  EXPECT_EQ(EncodeFormBody(table, 3), "a=x+y");
  // Tabs count as filled; only spaces are trimmed, and the value goes untrimmed.
  EXPECT_EQ(EncodeFormBody(Table({{u"t", u"\t"}, {u" n ", u" v "}}), 2), "t=%09&+n+=+v+");
  // Nothing qualifies, or nothing to send: no body at all.
  EXPECT_EQ(EncodeFormBody(Table({{u"", u"z"}, {u"c", u" "}}), 2), std::nullopt);
  EXPECT_EQ(EncodeFormBody(table, 0), std::nullopt);
  EXPECT_EQ(EncodeFormBody(table, -1), std::nullopt);
  // Only entries 1..count are sent, however large the table.
  EXPECT_EQ(EncodeFormBody(Table({{u"a", u"1"}, {u"b", u"2"}}), 1), "a=1");
}

TEST(EncodeFormBody, SeparatorsInsideFieldsAreEscaped) {
  EXPECT_EQ(EncodeFormBody(Table({{u"q", u"a&b=c"}}), 1), "q=a%26b%3Dc");
  EXPECT_EQ(EncodeFormBody(Table({{u"k=1&", u"v"}, {u"x", u"50% \u00e9"}}), 2),
            "k%3D1%26=v&x=50%25+%E9");
  EXPECT_EQ(EncodeFormBody(Table({{u"e\U0001F600", u"\U0001F600 \xDE00"}}), 1), "e%3F=%3F+%3F");
}

TEST(EncodeFormBody, LargeTablesAreSentWhole) {
  std::vector<FormVar> table(32768);
  for (std::size_t i = 1; i < table.size(); ++i) table[i] = {u"n", u"v"};
  const auto body = EncodeFormBody(table, 32767);
  ASSERT_TRUE(body);
  EXPECT_EQ(body->size(), 32767u * 4 - 1);
  const auto big = EncodeFormBody(Table({{u"v", Text(100000, u'x')}}), 1);
  ASSERT_TRUE(big);
  EXPECT_EQ(big->size(), 100002u);
}

}  // namespace
}  // namespace vizadavu::detail

// The public conversions between 16-bit text, UTF-8 and the code page.
#include <gtest/gtest.h>

#include <string>

#include "vizadavu/vizADAVU.h"

namespace vizadavu {
namespace {

TEST(TextToAnsi, CharactersWithoutCodeBecomeQuestionMarks) {
  // A surrogate pair is one character, so one "?"; an unpaired surrogate too.
  EXPECT_EQ(TextToAnsi(u"\u20ac\u0153x\U0001F600"), std::string("\x80\x9cx?"));
  EXPECT_EQ(TextToAnsi(u"\U0001F600\U0001F601"), "??");
  EXPECT_EQ(TextToAnsi(u"\xD83Dx\xDE00\xD83D"), "?x??");
  EXPECT_EQ(TextToAnsi(u"\xD83D\xD83D\xDE00y"), "??y");
}

TEST(Utf8, RoundTripsAndReplacesMalformedInput) {
  const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a é € 😀
  const Text text = Utf8ToText(utf8);
  EXPECT_EQ(text, u"a\u00e9\u20ac\U0001F600");
  EXPECT_EQ(TextToUtf8(text), utf8);
  // Truncated, overlong, surrogate and stray continuation bytes.
  EXPECT_EQ(Utf8ToText("\xC3"), u"\uFFFD");
  EXPECT_EQ(Utf8ToText("\xC0\xAFx"), u"\uFFFDx");
  EXPECT_EQ(Utf8ToText("\xED\xA0\x80"), u"\uFFFD");
  EXPECT_EQ(Utf8ToText("\x80z"), u"\uFFFDz");
  EXPECT_EQ(Utf8ToText("\xF4\x90\x80\x80"), u"\uFFFD");
  EXPECT_EQ(TextToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(Utf8ToText(std::string("a\0b", 3)), Text(u"a\0b", 3));
}

}  // namespace
}  // namespace vizadavu

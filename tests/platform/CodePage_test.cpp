#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "control/Url.h"
#include "tests/support/CodePage1252.h"
#include "vizadavu/vizADAVU.h"

namespace vizadavu {
namespace {

TEST(CodePage, EveryByteRoundTrips) {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  const Text text = AnsiToText(bytes);
  ASSERT_EQ(text.size(), 256u);
  EXPECT_EQ(TextToAnsi(text), bytes);
  EXPECT_EQ(text, test::Cp1252ToText(bytes));  // the published table, held by the tests
  // The 256 characters are distinct, so no two bytes collide.
  EXPECT_EQ(std::set<char16_t>(text.begin(), text.end()).size(), 256u);
  // The table-driven narrowing agrees, byte for byte and for characters without code.
  std::string narrowed(text.size(), '\0');
  platform::CharsToAnsi(text.data(), text.size(), reinterpret_cast<std::uint8_t*>(narrowed.data()));
  EXPECT_EQ(narrowed, bytes);
  const Text noCode = u"\u0080\u4e2d\u2123\uFFFF\xD83D";
  std::string questions(noCode.size(), '\0');
  platform::CharsToAnsi(noCode.data(), noCode.size(),
                        reinterpret_cast<std::uint8_t*>(questions.data()));
  EXPECT_EQ(questions, "?????");
}

TEST(CodePage, CharactersWithoutCodeBecomeQuestionMarks) {
  bool ok = true;
  EXPECT_EQ(platform::CharToAnsi(u'\u4e2d', ok), '?');
  EXPECT_FALSE(ok);
  EXPECT_EQ(platform::CharToAnsi(u'\u0080', ok), '?');  // C1 control that 0x80 does not carry
  EXPECT_FALSE(ok);
  EXPECT_EQ(platform::CharToAnsi(u'?', ok), '?');
  EXPECT_TRUE(ok);
  // No look-alikes: a fullwidth quotation mark is not a plain one, U+0100 not "A".
  EXPECT_EQ(TextToAnsi(u"\uFF02\u0100\u2215"), "???");
}

TEST(CodePage, WideningAgreesWithTheTableAtEveryLengthAndAlignment) {
  // Vector paths take 32 or 16 bytes at a time and leave tails to narrower
  // ones: every length up to 100 from every offset within 32 meets each path.
  std::vector<std::uint8_t> bytes(200);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(i * 37 + 0x80);
  for (std::size_t offset = 0; offset < 32; ++offset) {
    for (std::size_t count = 0; count <= 100; ++count) {
      std::vector<char16_t> out(count + 1, u'#');
      platform::AnsiToChars(bytes.data() + offset, count, out.data());
      for (std::size_t i = 0; i < count; ++i) {
        ASSERT_EQ(out[i], platform::AnsiToChar(bytes[offset + i])) << offset << " " << count;
      }
      ASSERT_EQ(out[count], u'#') << "wrote past the end";
    }
  }
}

// Under a Japanese locale (ctest's code_page_932): two-byte characters, no
// best fit, a lone lead byte kept as its stand-in.
TEST(CodePage932, TwoByteCharactersAndNoLookAlikes) {
  if (platform::CodePageNumber() != 932) GTEST_SKIP() << "the ANSI code page is not 932";
  struct Row {  // URLEncode, TextToAnsi and the object name as sent
    const char16_t* text;
    const char *encoded, *bytes, *object;
  };
  for (const Row& row : {Row{u"\u3042", "%82A0", "\x82\xA0", "/%82%A0"},
                         Row{u"\u8868", "%955C", "\x95\x5C", "/%95%5C"},
                         Row{u"\uFF71 a", "%B1+a", "\xB1 a", "/\xB1 a"},  // one-byte katakana
                         Row{u"\uFF02", "%FA57", "\xFA\x57", "/%FA%57"},  // a code of its own
                         // The yen sign is not a backslash, U+0100 not "A"; a stand-in is "?".
                         Row{u"\u00A5\u0100\xDC82", "%3F%3F%3F", "???", "/%3F%3F%3F"}}) {
    EXPECT_EQ(TextToUtf8(vizADAVU().URLEncode(row.text)), row.encoded);
    EXPECT_EQ(TextToAnsi(row.text), row.bytes);
    EXPECT_EQ(detail::AddressOf({u"h", Text(u"/") + row.text}, true)->object, row.object);
  }
  EXPECT_EQ(AnsiToText("\x95\x5C\x82\x41"), u"\xDC95\\\xDC82\x41");
  EXPECT_EQ(detail::AddressOf({u"\u8868.jp", u"/"}, true)->host,
            "\x95\x5C.jp");  // a backslash as its half
}

}  // namespace
}  // namespace vizadavu

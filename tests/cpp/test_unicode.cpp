#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "unicode.hpp"

namespace u = corvane::unicode;

TEST(UnicodeDecode, DecodesByCodePoint) {
  const std::string text = "a\u00e9\u3042\U0001F600";
  std::size_t pos = 0;
  EXPECT_EQ(u::next_code_point(text, pos), U'a');
  EXPECT_EQ(u::next_code_point(text, pos), U'\u00e9');
  EXPECT_EQ(u::next_code_point(text, pos), U'\u3042');
  EXPECT_EQ(u::next_code_point(text, pos), U'\U0001F600');
  EXPECT_EQ(pos, text.size());
}

TEST(UnicodeDecode, MalformedBytesDecodeAsReplacementOneByteAtATime) {
  const std::string_view cases[] = {
      "\xC0\x80",          // overlong NUL
      "\xE0\x80\x80",      // overlong 3-byte
      "\xED\xA0\x80",      // surrogate U+D800
      "\xF4\x90\x80\x80",  // above U+10FFFF
      "\xF5",              // invalid lead
      "\x80",              // stray continuation
      "\xE3\x81",          // truncated
  };
  for (std::string_view bad : cases) {
    EXPECT_FALSE(u::is_valid_utf8(bad)) << testing::PrintToString(std::string(bad));
    std::size_t pos = 0;
    EXPECT_EQ(u::next_code_point(bad, pos), U'\uFFFD');
    EXPECT_EQ(pos, 1u);
  }
  EXPECT_TRUE(u::is_valid_utf8("plain \u00e9\U0010FFFF"));
  EXPECT_TRUE(u::is_valid_utf8(""));
}

TEST(UnicodeProperties, WhiteSpaceIsTheWhiteSpaceProperty) {
  for (char32_t cp : {U' ', U'\t', U'\n', U'\v', U'\f', U'\r', U'\u0085', U'\u00A0', U'\u1680',
                      U'\u2000', U'\u2028', U'\u2029', U'\u202F', U'\u3000'}) {
    EXPECT_TRUE(u::is_white_space(cp)) << static_cast<unsigned>(cp);
  }
  for (char32_t cp : {U'a', U'\0', U'\u200B', U'\uFEFF', U'\u180E', U'\u001C'}) {
    EXPECT_FALSE(u::is_white_space(cp)) << static_cast<unsigned>(cp);
  }
}

TEST(UnicodeProperties, DecimalDigitsAreCategoryNd) {
  for (char32_t cp = U'0'; cp <= U'9'; ++cp) EXPECT_TRUE(u::is_decimal_digit(cp));
  for (char32_t cp = 0x0660; cp <= 0x0669; ++cp) EXPECT_TRUE(u::is_decimal_digit(cp));  // Arabic-Indic
  EXPECT_TRUE(u::is_decimal_digit(U'\uFF15'));   // fullwidth five
  EXPECT_FALSE(u::is_decimal_digit(U'\u00B2'));  // superscript two: No, not Nd
  EXPECT_FALSE(u::is_decimal_digit(U'\u2164'));  // Roman numeral: Nl
  EXPECT_FALSE(u::is_decimal_digit(U'a'));
}

TEST(UnicodeAscii, AnyByteFromU0080OnIsNotAscii) {
  EXPECT_TRUE(u::all_ascii(""));
  EXPECT_TRUE(u::all_ascii("#TITLE \"a\x7F\""));
  EXPECT_FALSE(u::all_ascii("caf\u00E9"));
  EXPECT_FALSE(u::all_ascii("\x80"));  // a lone continuation byte counts too
}

TEST(UnicodeTrim, RemovesWhiteSpaceCodePointsOnly) {
  EXPECT_EQ(u::trim("  abc \t\r\n"), "abc");
  EXPECT_EQ(u::trim("\u3000a b\u0085"), "a b");
  EXPECT_EQ(u::trim("\u00A0\u2029x\u2000"), "x");
  EXPECT_EQ(u::trim("\uFEFFx\uFEFF"), "\uFEFFx\uFEFF");
  EXPECT_EQ(u::trim(" \u3000 "), "");
  EXPECT_EQ(u::trim(""), "");
  // A malformed byte is not white space and stops trimming on either side.
  EXPECT_EQ(u::trim(" \x85 "), "\x85");
  EXPECT_EQ(u::trim(" \xE3\x80 "), "\xE3\x80");
  EXPECT_EQ(u::trim("\xA0x"), "\xA0x");
}

TEST(UnicodeCase, FullMappingsInTheRootLocale) {
  EXPECT_EQ(u::to_lower("ABC def 123"), "abc def 123");
  EXPECT_EQ(u::to_upper("abc DEF 123"), "ABC DEF 123");
  EXPECT_EQ(u::to_lower("\u00C4B"), "\u00E4b");
  EXPECT_EQ(u::to_lower("\u0130"), "i\u0307");  // dotted capital I, not Turkish
  EXPECT_EQ(u::to_lower("TITLE"), "title");
  EXPECT_EQ(u::to_upper("stra\u00DFe"), "STRASSE");
  EXPECT_EQ(u::to_upper("\uFB01"), "FI");
  EXPECT_EQ(u::to_lower("\u03A3\u0391\u03A3"), "\u03C3\u03B1\u03C2");  // final sigma
  EXPECT_EQ(u::to_upper("\u3042"), "\u3042");
  EXPECT_EQ(u::to_lower(""), "");
}

TEST(UnicodeCase, IllFormedBytesPassThroughUnchanged) {
  EXPECT_EQ(u::to_lower("\xFF\u00C4"), "\xFF\u00E4");
  EXPECT_EQ(u::to_upper("a\xED\xA0\x80\u00E4"), "A\xED\xA0\x80\u00C4");
  EXPECT_EQ(u::to_lower("\xC3"), "\xC3");
}

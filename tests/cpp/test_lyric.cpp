#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "lyric.hpp"

using corvane::Fraction;
using corvane::Lyric;

namespace {

using Words = std::vector<std::pair<std::string, Fraction>>;

Words words_of(std::string_view text) {
  Words out;
  for (const auto& w : Lyric::load(text).words) out.emplace_back(w.text, w.bar);
  return out;
}

}  // namespace

TEST(Lyric, SplitsPartsEvenlyAndKeepsGapsForEmptyParts) {
  EXPECT_EQ(words_of("12: a/b/c/d"), (Words{{"a", 12}, {"b", Fraction(49, 4)},
                                           {"c", Fraction(25, 2)}, {"d", Fraction(51, 4)}}));
  EXPECT_EQ(words_of("12: a//c"), (Words{{"a", 12}, {"c", Fraction(38, 3)}}));
  EXPECT_EQ(words_of("0: x/y"), (Words{{"x", 0}, {"y", Fraction(1, 2)}}));
  EXPECT_TRUE(words_of("3: /").empty());
}

TEST(Lyric, PartsKeepTheirBlanksButTheLineIsTrimmed) {
  EXPECT_EQ(words_of("3: a / b"), (Words{{"a ", 3}, {" b", Fraction(7, 2)}}));
  EXPECT_EQ(words_of("3:  a"), (Words{{" a", 3}}));
  EXPECT_EQ(words_of("  3: hello  "), (Words{{"hello", 3}}));
  // No-break space and ideographic space are Unicode white space too.
  EXPECT_EQ(words_of("\u00A03: x\u3000"), (Words{{"x", 3}}));
}

TEST(Lyric, LinesOutsideTheFormatAreSkipped) {
  EXPECT_TRUE(Lyric::load("").words.empty());
  EXPECT_TRUE(Lyric::load("\n\n  \r\n").words.empty());
  for (const char* line : {"3: ", "3:", "3:a", "-1: x", "+1: x", "x3: a", "3 : a", "# 3: a"})
    EXPECT_TRUE(words_of(line).empty()) << line;
}

TEST(Lyric, LinesKeepTextOrderAndCrLfEndsALine) {
  EXPECT_EQ(words_of("5: x\r\n# note\r\n1: y\r\n1: z"), (Words{{"x", 5}, {"y", 1}, {"z", 1}}));
  // A line that is not UTF-8 is skipped without affecting the next one.
  EXPECT_EQ(words_of("1: \xff\n2: b"), (Words{{"b", 2}}));
}

TEST(Lyric, BaseBarOutsideAsciiOrI64CountsAsZero) {
  // Arabic-Indic three and fullwidth three are decimal digits: the line
  // matches, but the base does not read as an integer.
  EXPECT_EQ(words_of("\u0663: x"), (Words{{"x", 0}}));
  EXPECT_EQ(words_of("\uFF13: x/y"), (Words{{"x", 0}, {"y", Fraction(1, 2)}}));
  EXPECT_EQ(words_of("9223372036854775808: a/b"), (Words{{"a", 0}, {"b", Fraction(1, 2)}}));
  EXPECT_EQ(words_of("007: a"), (Words{{"a", 7}}));
}

TEST(Lyric, WordWhoseBarOverflowsIsDroppedNotFatal) {
  constexpr auto max = std::numeric_limits<std::int64_t>::max();
  Words got;
  ASSERT_NO_THROW(got = words_of("9223372036854775807: a/b\n1: c"));
  EXPECT_EQ(got, (Words{{"a", max}, {"c", 1}}));
}

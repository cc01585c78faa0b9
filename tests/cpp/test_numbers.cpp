// The shared number readers and the positional shortest form. Callers test
// only what they add on top (defaults, trimming, their own mappings).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <random>
#include <string>

#include "numbers.hpp"

namespace corvane {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::int32_t kMin32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax32 = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kMin64 = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax64 = std::numeric_limits<std::int64_t>::max();

// Texts no integer reader of any radix accepts.
constexpr const char* kNotIntegers[] = {
    "",     "+",   "-",    "+-1",  "--1",  "-+1", " 1",      "1 ",      "1\n",
    "1.0",  "1.",  "1_000", "1,000", "\u0661", "\uFF11", "\xEF\xBC\x91x",
};

std::string shortest(double v) {
  std::string s;
  append_shortest_positional(s, v);
  return s;
}

TEST(ReadDecimal, SignDigitsAndRange) {
  EXPECT_EQ(read_decimal<std::int64_t>("0"), 0);
  EXPECT_EQ(read_decimal<std::int64_t>("007"), 7);
  EXPECT_EQ(read_decimal<std::int64_t>("+42"), 42);
  EXPECT_EQ(read_decimal<std::int64_t>("-0"), 0);
  EXPECT_EQ(read_decimal<std::int64_t>("9223372036854775807"), kMax64);
  EXPECT_EQ(read_decimal<std::int64_t>("-9223372036854775808"), kMin64);
  EXPECT_EQ(read_decimal<std::int64_t>("9223372036854775808"), std::nullopt);
  EXPECT_EQ(read_decimal<std::int64_t>("-9223372036854775809"), std::nullopt);
  EXPECT_EQ(read_decimal<std::int64_t>("99999999999999999999999"), std::nullopt);
  // Magnitudes past 2^64 must not wrap around into range.
  EXPECT_EQ(read_decimal<std::int64_t>("18446744073709551617"), std::nullopt);
  EXPECT_EQ(read_decimal<std::int64_t>("-18446744073709551617"), std::nullopt);
  EXPECT_EQ(read_decimal<std::int32_t>("4294967297"), std::nullopt);

  EXPECT_EQ(read_decimal<std::int32_t>("2147483647"), kMax32);
  EXPECT_EQ(read_decimal<std::int32_t>("-2147483648"), kMin32);
  EXPECT_EQ(read_decimal<std::int32_t>("2147483648"), std::nullopt);
  EXPECT_EQ(read_decimal<std::int32_t>("-2147483649"), std::nullopt);
  EXPECT_EQ(read_decimal<std::int32_t>("+0000000000000000000000480"), 480);

  for (const char* text : kNotIntegers) {
    EXPECT_EQ(read_decimal<std::int64_t>(text), std::nullopt) << text;
    EXPECT_EQ(read_decimal<std::int32_t>(text), std::nullopt) << text;
  }
  // Letters are digits only in radix 36.
  EXPECT_EQ(read_decimal<std::int64_t>("1e3"), std::nullopt);
  EXPECT_EQ(read_decimal<std::int64_t>("0x10"), std::nullopt);
  EXPECT_EQ(read_decimal<std::int64_t>("1a"), std::nullopt);
}

TEST(ReadRadix36, LettersOfEitherCaseAndRange) {
  EXPECT_EQ(read_radix36<std::int32_t>("0a"), 10);
  EXPECT_EQ(read_radix36<std::int32_t>("+Z"), 35);
  EXPECT_EQ(read_radix36<std::int32_t>("-1"), -1);
  EXPECT_EQ(read_radix36<std::int32_t>("10"), 36);
  EXPECT_EQ(read_radix36<std::int32_t>("zZ"), 35 * 36 + 35);
  EXPECT_EQ(read_radix36<std::int32_t>("zik0zj"), kMax32);
  EXPECT_EQ(read_radix36<std::int32_t>("-ZIK0ZK"), kMin32);
  EXPECT_EQ(read_radix36<std::int32_t>("ZIK0ZK"), std::nullopt);  // 2^31
  EXPECT_EQ(read_radix36<std::int32_t>("-ZIK0ZL"), std::nullopt);
  EXPECT_EQ(read_radix36<std::int32_t>("3w5e11264sgsh"), std::nullopt);  // 2^64 + 1
  for (const char* text : kNotIntegers) {
    EXPECT_EQ(read_radix36<std::int32_t>(text), std::nullopt) << text;
  }
  EXPECT_EQ(read_radix36<std::int32_t>("\u00e9"), std::nullopt);
  EXPECT_EQ(read_radix36<std::int32_t>("a!"), std::nullopt);
}

TEST(ReadFloat, MantissaAndExponentForms) {
  const std::pair<const char*, double> cases[] = {
      {"2", 2.0},          {"2.", 2.0},         {".5", 0.5},       {"+1.25", 1.25},
      {"-2", -2.0},        {"007.50", 7.5},     {"1e3", 1000.0},   {"1E-2", 0.01},
      {"2.5e+1", 25.0},    {".5e1", 5.0},       {"5.e-1", 0.5},    {"0.1", 0.1},
      {"1e0000000000000000000002", 100.0},
      {"99999999999999999999", 1e20},  // beyond any integer type: still a float
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(read_float(text), expected) << text;
}

TEST(ReadFloat, WordsInAnyAsciiCase) {
  for (const char* text : {"inf", "INF", "Infinity", "iNfInItY", "+inf"}) {
    EXPECT_EQ(read_float(text), kInf) << text;
  }
  EXPECT_EQ(read_float("-Infinity"), -kInf);
  for (const char* text : {"nan", "NaN", "+NAN"}) {
    const auto v = read_float(text);
    ASSERT_TRUE(v.has_value()) << text;
    EXPECT_TRUE(std::isnan(*v) && !std::signbit(*v)) << text;
  }
  const auto negative = read_float("-nan");
  ASSERT_TRUE(negative.has_value());
  EXPECT_TRUE(std::isnan(*negative) && std::signbit(*negative));
}

TEST(ReadFloat, BeyondTheRangeGivesInfinityOrZeroOfItsSign) {
  EXPECT_EQ(read_float("1e999"), kInf);
  EXPECT_EQ(read_float("-1e999"), -kInf);
  EXPECT_EQ(read_float("1e99999999999999999999"), kInf);
  EXPECT_EQ(read_float("1e-999"), 0.0);
  const auto negative_zero = read_float("-1e-999");
  ASSERT_TRUE(negative_zero.has_value());
  EXPECT_EQ(*negative_zero, 0.0);
  EXPECT_TRUE(std::signbit(*negative_zero));
  EXPECT_EQ(read_float("0e999999999999999999999"), 0.0);
  // The decision follows the first significant digit, not the exponent
  // alone: leading zeros and long integer parts move it.
  EXPECT_EQ(read_float("0.001e311"), 1e308);
  EXPECT_EQ(read_float("0.0001e-320"), 0.0);
  EXPECT_EQ(read_float("1000e306"), kInf);
  EXPECT_EQ(read_float("100000e-330"), 0.0);
  EXPECT_EQ(read_float("1000e-326"), 1e-323);
  EXPECT_EQ(read_float("4.9e-324"), std::numeric_limits<double>::denorm_min());
  EXPECT_EQ(read_float("1.7976931348623157e308"), std::numeric_limits<double>::max());
}

TEST(ReadFloat, RejectsEverythingElse) {
  for (const char* text :
       {"",      "+",     "-",     ".",      "+.",     "e5",    ".e1",  "1e",     "1e+",
        "1e-",   "1ex",   "1e5.",  "1.2.3",  "1.5x",   "++1",   "+-1",  " 1",     "1 ",
        "1_000", "1,5",   "0x10",  "0x1p3",  "nan(1)", "nan()", "infin", "infinityy", "in f",
        "\u0663", "\uFF11", "1\u00A0", "\xDDnf"}) {
    EXPECT_EQ(read_float(text), std::nullopt) << text;
  }
}

TEST(ReadFloat, AgreesWithTheLibraryOnRandomLiterals) {
  // Plain literals within the range: the nearest double, as strtod gives it.
  std::mt19937 rng(11);
  for (int i = 0; i < 2000; ++i) {
    std::string text = rng() % 2 ? "-" : "";
    for (unsigned n = rng() % 12; n > 0; --n) text += static_cast<char>('0' + rng() % 10);
    text += '.';
    for (unsigned n = 1 + rng() % 12; n > 0; --n) text += static_cast<char>('0' + rng() % 10);
    text += 'e' + std::to_string(static_cast<int>(rng() % 601) - 300);
    EXPECT_EQ(read_float(text), std::strtod(text.c_str(), nullptr)) << text;
  }
}

TEST(ShortestPositional, RoundTripDigitsWithoutExponent) {
  EXPECT_EQ(shortest(120), "120");
  EXPECT_EQ(shortest(120.5), "120.5");
  EXPECT_EQ(shortest(-3), "-3");
  EXPECT_EQ(shortest(0), "0");
  EXPECT_EQ(shortest(-0.0), "-0");
  EXPECT_EQ(shortest(0.5), "0.5");
  EXPECT_EQ(shortest(-123.456), "-123.456");
  EXPECT_EQ(shortest(1e21), "1" + std::string(21, '0'));
  EXPECT_EQ(shortest(1.5e300), "15" + std::string(299, '0'));
  EXPECT_EQ(shortest(1e-7), "0.0000001");
  EXPECT_EQ(shortest(1.25e-5), "0.0000125");
  EXPECT_EQ(shortest(5e-324), "0." + std::string(323, '0') + "5");
  EXPECT_EQ(shortest(-std::numeric_limits<double>::max()),
            "-17976931348623157" + std::string(292, '0'));
  for (double v : {0.1, 1.0 / 3.0, 2.0 / 3.0, 1e-5, 123456789.125, 1e16, 9007199254740993.0}) {
    EXPECT_EQ(std::stod(shortest(v)), v) << shortest(v);
  }
  // Appends to what is there.
  std::string out = "x=";
  append_shortest_positional(out, 2.5);
  EXPECT_EQ(out, "x=2.5");
}

TEST(ShortestPositional, NonFiniteValuesAsTheLibraryWritesThem) {
  EXPECT_EQ(shortest(kInf), "inf");
  EXPECT_EQ(shortest(-kInf), "-inf");
  EXPECT_EQ(shortest(std::numeric_limits<double>::quiet_NaN()), "nan");
}

TEST(AppendInt, EveryWidthAndSignednessAppends) {
  std::string out = "n=";
  append_int(out, -7);
  out += ' ';
  append_int(out, std::numeric_limits<std::int64_t>::min());
  out += ' ';
  append_int(out, std::numeric_limits<std::uint64_t>::max());
  out += ' ';
  append_int(out, std::size_t{0});
  out += ' ';
  append_int(out, std::uint8_t{255});  // a number, not a character
  EXPECT_EQ(out, "n=-7 -9223372036854775808 18446744073709551615 0 255");
}

}  // namespace
}  // namespace corvane

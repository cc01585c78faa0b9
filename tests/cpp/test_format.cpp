// Number forms, escaping and note symbol bodies of the SVG document.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "drawing/drawing.hpp"
#include "drawing/format.hpp"
#include "drawing/markup.hpp"
#include "drawing/note_symbols.hpp"

namespace corvane {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

TEST(RoundEven, TiesGoToTheEvenNeighbour) {
  EXPECT_EQ(round_even(0.5), 0);
  EXPECT_EQ(round_even(1.5), 2);
  EXPECT_EQ(round_even(2.5), 2);
  EXPECT_EQ(round_even(3.5), 4);
  EXPECT_EQ(round_even(-0.5), 0);
  EXPECT_EQ(round_even(-1.5), -2);
  EXPECT_EQ(round_even(-2.5), -2);
  EXPECT_EQ(round_even(2.4999), 2);
  EXPECT_EQ(round_even(2.5000001), 3);
  EXPECT_EQ(round_even(2944.0), 2944);
  EXPECT_EQ(round_even(2731.9999999), 2732);
  EXPECT_EQ(round_even(-0.0), 0);
  EXPECT_EQ(round_even(-0.49999999999999994), 0);
  // The largest double below 0.5 must not be pushed up by an addition.
  EXPECT_EQ(round_even(0.49999999999999994), 0);
  EXPECT_EQ(round_even(4503599627370497.0), 4503599627370497);
}

TEST(RoundEven, NaNAndOutOfRangeValuesSaturate) {
  EXPECT_EQ(round_even(kNaN), 0);
  EXPECT_EQ(round_even(kInf), kMax);
  EXPECT_EQ(round_even(-kInf), kMin);
  EXPECT_EQ(round_even(1e300), kMax);
  EXPECT_EQ(round_even(-1e300), kMin);
  EXPECT_EQ(round_even(9223372036854775808.0), kMax);
  EXPECT_EQ(round_even(-9223372036854775808.0), kMin);

  std::string s;
  append_round(s, -2.5);
  s += ' ';
  append_round(s, kNaN);
  s += ' ';
  append_int(s, kMin);
  EXPECT_EQ(s, "-2 0 -9223372036854775808");
}

// The positional layout is tested with the shared writer (test_numbers);
// here: the document's own spelling of the non-finite values.
TEST(Shortest, PositionalRoundTripText) {
  EXPECT_EQ(shortest(118), "118");
  EXPECT_EQ(shortest(16.0 / 56.0 * 32.0), "9.142857142857142");
  EXPECT_EQ(shortest(1e-7), "0.0000001");
  EXPECT_EQ(shortest(-0.0), "-0");
  EXPECT_EQ(shortest(kNaN), "NaN");
  EXPECT_EQ(shortest(-kNaN), "NaN");
  EXPECT_EQ(shortest(kInf), "inf");
  EXPECT_EQ(shortest(-kInf), "-inf");
}

TEST(Fixed, CorrectlyRoundedFromTheBinaryValue) {
  EXPECT_EQ(fixed(0.25 * 100, 2), "25.00");
  EXPECT_EQ(fixed(-0.1 * 100, 2), "-10.00");
  EXPECT_EQ(fixed(2.675, 2), "2.67");  // 2.67499999... in binary
  EXPECT_EQ(fixed(0.125, 2), "0.12");  // exact tie: even digit
  EXPECT_EQ(fixed(0.375, 2), "0.38");
  EXPECT_EQ(fixed(2.5, 0), "2");
  EXPECT_EQ(fixed(-1.5, 0), "-2");
  EXPECT_EQ(fixed(1e22, 2), "10000000000000000000000.00");
  EXPECT_EQ(fixed(1.0, 150), "1." + std::string(150, '0'));
  for (int n : {0, 2, 9}) {
    EXPECT_EQ(fixed(kNaN, n), "NaN");
    EXPECT_EQ(fixed(kInf, n), "inf");
    EXPECT_EQ(fixed(-kInf, n), "-inf");
  }
}

TEST(FormatG, SixSignificantDigits) {
  EXPECT_EQ(format_g(1.5), "1.5");
  EXPECT_EQ(format_g(120), "120");
  EXPECT_EQ(format_g(0.0625), "0.0625");
  EXPECT_EQ(format_g(-3), "-3");
  EXPECT_EQ(format_g(1.0 / 3.0), "0.333333");
  EXPECT_EQ(format_g(2.0 / 3.0), "0.666667");
  EXPECT_EQ(format_g(123456.7), "123457");
  EXPECT_EQ(format_g(0.0001), "0.0001");
  EXPECT_EQ(format_g(0.0), "0");
  EXPECT_EQ(format_g(-0.0), "0");
  EXPECT_EQ(format_g(100000), "100000");  // no point: nothing trimmed
  EXPECT_EQ(format_g(kNaN), "NaN");
}

TEST(FormatG, ExponentForm) {
  EXPECT_EQ(format_g(1234567), "1.23457e+06");
  EXPECT_EQ(format_g(-1234567), "-1.23457e+06");
  EXPECT_EQ(format_g(1000000), "1e+06");
  EXPECT_EQ(format_g(0.00001234), "1.234e-05");
  EXPECT_EQ(format_g(0.00001), "1e-05");
  EXPECT_EQ(format_g(1e21), "1e+21");
  EXPECT_EQ(format_g(1e100), "1e+100");
  EXPECT_EQ(format_g(2.5e-100), "2.5e-100");
}

TEST(FormatG, ExponentIsChosenBeforeRounding) {
  EXPECT_EQ(format_g(999999.5), "1000000");
  EXPECT_EQ(format_g(9.9999995), "10");
  EXPECT_EQ(format_g(0.000099999996), "10e-05");
  EXPECT_EQ(format_g(kInf), "NaNe+2147483647");
  EXPECT_EQ(format_g(-kInf), "NaNe+2147483647");
}

TEST(FormatG, AppendsWithoutDisturbingTheBuffer) {
  // Trimming must stop at the appended text, even when the buffer ends in
  // zeros or dots already.
  std::string s = "x=100.";
  append_format_g(s, 2.5);
  EXPECT_EQ(s, "x=100.2.5");
  s = "0";
  append_format_g(s, 100000);
  EXPECT_EQ(s, "0100000");
  s = "0.";
  append_format_g(s, 1e6);
  EXPECT_EQ(s, "0.1e+06");
}

TEST(EscapeXml, FourCharactersReplaced) {
  EXPECT_EQ(escape_xml("<&\">"), "&lt;&amp;&quot;&gt;");
  EXPECT_EQ(escape_xml("it's"), "it's");
  EXPECT_EQ(escape_xml("&lt;"), "&amp;lt;");
  EXPECT_EQ(escape_xml("&amp;"), "&amp;amp;");
  EXPECT_EQ(escape_xml(""), "");
  EXPECT_EQ(escape_xml("\xE6\x97\xA5\xE6\x9C\xAC \xC3\xA9\t\n\r"), "\xE6\x97\xA5\xE6\x9C\xAC \xC3\xA9\t\n\r");
  std::string s = "a";
  append_escaped(s, "b&c");
  EXPECT_EQ(s, "ab&amp;c");
}

TEST(EscapeXml, CharactersXmlCannotHoldAreReplaced) {
  // Control characters and U+FFFE / U+FFFF would make the document
  // ill-formed; they become U+FFFD.
  EXPECT_EQ(escape_xml(std::string("a\x01" "b\x00" "c\x1f", 6)),
            "a\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c\xEF\xBF\xBD");
  EXPECT_EQ(escape_xml("\xEF\xBF\xBE\xEF\xBF\xBF\xEF\xBF\xBD"),
            "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(escape_xml("\xEF\xBC\xAD"), "\xEF\xBC\xAD");  // U+FF2D stays
  EXPECT_EQ(escape_xml("\x7f"), "\x7f");
}

// The size is counted by a table of its own; it must agree with the rule,
// also on sequences that the rule treats as a whole (U+FFFE, U+FFFF).
TEST(EscapeXml, EscapedSizeAgreesWithTheEscapedText) {
  std::vector<std::string> texts = {"", "plain", "<&\">'", "\xEF\xBF\xBE\xEF\xBF\xBF",
                                    "\xEF\xBF", "\xEF", "a\xEF\xBF\xBE" "b"};
  std::string every_byte;
  for (int c = 0; c < 256; ++c) every_byte += static_cast<char>(c);
  texts.push_back(every_byte);
  std::uint32_t state = 7;
  for (int n = 0; n < 200; ++n) {
    std::string t;
    for (int k = 0; k < 40; ++k) {
      state = state * 1103515245U + 12345U;
      // Mostly the bytes that matter: & < > " controls and the U+FFFE bytes.
      static constexpr char kBytes[] = "&<>\"\x01\t\xEF\xBF\xBE\xBF" "a ";
      t += kBytes[(state >> 16) % (sizeof kBytes - 1)];
    }
    texts.push_back(t);
  }
  for (const std::string& t : texts) {
    EXPECT_EQ(escaped_size(t), escape_xml(t).size()) << testing::PrintToString(t);
    std::string buf(6 * t.size(), '\0');
    buf.resize(static_cast<std::size_t>(copy_escaped(buf.data(), t) - buf.data()));
    EXPECT_EQ(buf, escape_xml(t));
  }
}

TEST(RoundEven, InlineAndWideFormsMeet) {
  // Around 2^52, where the inline form hands over to the wide one.
  for (const double v : {4503599627370495.5, 4503599627370494.5, 4503599627370496.0,
                         -4503599627370495.5, -4503599627370496.0, 4503599627370497.0}) {
    EXPECT_EQ(round_even(v), static_cast<std::int64_t>(std::nearbyint(v))) << v;
  }
}

TEST(Markup, EachArgumentTypeChoosesItsForm) {
  std::string out;
  append_markup<R"svg(<e i="{}" r="{}" s="{}" f="{}" g="{}" p="{}">{}{}</e>)svg">(
      out, std::int64_t{-12}, 2.5, Shortest{0.5}, Fixed{25.0, 2}, G{1234567.0}, ZeroPadded{3, 2},
      std::string_view("<raw>"), Escaped{"<&>"});
  EXPECT_EQ(out,
            R"svg(<e i="-12" r="2" s="0.5" f="25.00" g="1.23457e+06" p="03"><raw>&lt;&amp;&gt;</e>)svg");
  out = "kept|";
  append_markup<"{}{}">(out, 1, 2U);
  append_markup<"{}">(out, 3.5);
  append_markup<"plain">(out);
  EXPECT_EQ(out, "kept|124plain");
}

// Texts of any size around the element buffer: the pieces keep their order.
TEST(Markup, TextsLargerThanTheElementBuffer) {
  for (const std::size_t n : {std::size_t{0}, std::size_t{85}, std::size_t{86}, std::size_t{300},
                              std::size_t{511}, std::size_t{512}, std::size_t{513},
                              std::size_t{5000}}) {
    const std::string raw(n, 'r');
    const std::string quotes(n, '"');
    std::string out;
    append_markup<R"svg(<a x="{}" y="{}">{}|{}|{}</a>)svg">(out, 1.0, n, std::string_view(raw),
                                                             Escaped{quotes}, -7);
    std::string expected = "<a x=\"1\" y=\"" + std::to_string(n) + "\">" + raw + "|";
    for (std::size_t k = 0; k < n; ++k) expected += "&quot;";
    expected += "|-7</a>";
    EXPECT_EQ(out, expected) << n;
  }
}

TEST(NoteSymbolBody, DefaultsAndPlacement) {
  const Drawing d;
  std::string out;
  write_note_symbol_body(d, out, 2, -3, 118);
  EXPECT_EQ(out, std::string("<image href=\"") + kDefaultNoteHost +
                     "/notes_2.png\" x=\"-3\" y=\"-3\" width=\"118\" height=\"62\"/>");
  out.clear();
  write_note_symbol_body(d, out, 6, -37200, 141600);
  EXPECT_EQ(out, std::string("<image href=\"") + kDefaultNoteHost +
                     "/notes_6.png\" x=\"-37200\" y=\"-3\" width=\"141600\" height=\"62\"/>");
}

TEST(NoteSymbolBody, HostAndExtensionAreEscaped) {
  Drawing d;
  d.note_host = "https://h.example/a?x=1&y=\"2\"<";
  d.note_asset_extension = "p&g";
  std::string out;
  write_note_symbol_body(d, out, 0, -3, 118);
  EXPECT_EQ(out,
            "<image href=\"https://h.example/a?x=1&amp;y=&quot;2&quot;&lt;/notes_0.p&amp;g\" "
            "x=\"-3\" y=\"-3\" width=\"118\" height=\"62\"/>");

  d.note_host = "";
  d.note_asset_extension = "";
  out.clear();
  write_note_symbol_body(d, out, 1, -3, 118);
  EXPECT_EQ(out.substr(0, 27), "<image href=\"/notes_1.\" x=\"");
}

}  // namespace
}  // namespace corvane

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "error.hpp"
#include "line.hpp"

namespace corvane {
namespace {

std::vector<ParsedItem> parse(std::string_view raw) { return Line(raw).parse(); }

template <class T>
T only(std::string_view raw) {
  auto items = parse(raw);
  EXPECT_EQ(items.size(), 1u) << raw;
  if (items.size() != 1 || !std::holds_alternative<T>(items[0])) {
    ADD_FAILURE() << "no single item of the expected kind for " << raw;
    return T{};
  }
  return std::get<T>(items[0]);
}

std::vector<NoteData> notes_of(std::string_view raw) {
  std::vector<NoteData> notes;
  for (const auto& item : parse(raw)) notes.push_back(std::get<item::Note>(item).note);
  return notes;
}

ErrorKind error_kind_of(std::string_view raw, std::string* message = nullptr) {
  try {
    parse(raw);
  } catch (const Error& e) {
    if (message != nullptr) *message = e.what();
    return e.kind();
  }
  ADD_FAILURE() << "no error for " << raw;
  return ErrorKind::Runtime;
}

// First so that the patterns' first use really is concurrent when the whole
// file runs; the per-thread match data is exercised either way.
TEST(LinePatterns, ConcurrentUseGivesSameResults) {
  std::vector<std::thread> threads;
  std::vector<int> ok(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t, &ok] {
      int good = 0;
      for (int i = 0; i < 200; ++i) {
        auto a = Line("#00114: 14005300").parse();
        auto b = Line("#TIL00: \"0'0:1.5, 1'0:2\"").parse();
        auto c = Line("#REQUEST \"ticks_per_beat 480\"").parse();
        good += a.size() == 2 && std::get<item::Note>(a[1]).note.base.bar == Fraction(3, 2) &&
                std::get<item::SpeedTimeline>(b[0]).entries.size() == 2 &&
                std::get<item::TicksPerBeat>(c[0]).ticks == 480;
      }
      ok[static_cast<std::size_t>(t)] = good;
    });
  }
  for (auto& th : threads) th.join();
  for (int good : ok) EXPECT_EQ(good, 200);
}

TEST(SplitLines, Terminators) {
  EXPECT_TRUE(split_lines("").empty());
  auto one = split_lines("\n");
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].kind, LineKind::Comment);
  EXPECT_EQ(one[0].value, "");

  auto crlf = split_lines("a\r\nb");
  ASSERT_EQ(crlf.size(), 2u);
  EXPECT_EQ(crlf[0].value, "a");
  EXPECT_EQ(crlf[1].value, "b");
  EXPECT_EQ(split_lines("a\n").size(), 1u);

  // A lone CR is part of the line; at an end it is trimmed as white space.
  auto lone = split_lines("a\rb\n#TITLE x\r\r\n");
  ASSERT_EQ(lone.size(), 2u);
  EXPECT_EQ(lone[0].value, "a\rb");
  EXPECT_EQ(lone[1].kind, LineKind::Header);
  EXPECT_EQ(lone[1].value, "x");
}

TEST(LineNew, Classification) {
  for (const char* blank : {"", "   \t "}) {
    Line l(blank);
    EXPECT_EQ(l.kind, LineKind::Comment);
    EXPECT_EQ(l.key, "comment");
    EXPECT_EQ(l.value, "");
  }
  Line header("  #TITLE   Song  ");
  EXPECT_EQ(header.kind, LineKind::Header);
  EXPECT_EQ(header.key, "TITLE");
  EXPECT_EQ(header.value, "Song");
  EXPECT_EQ(Line("#TITLE\tSong").kind, LineKind::Header);

  Line data("#00010:   1122");
  EXPECT_EQ(data.kind, LineKind::Data);
  EXPECT_EQ(data.key, "00010");
  EXPECT_EQ(data.value, "1122");
  Line empty_data("#00002:");
  EXPECT_EQ(empty_data.kind, LineKind::Data);
  EXPECT_EQ(empty_data.value, "");
  Line titled("#TITLE: My Song");
  EXPECT_EQ(titled.kind, LineKind::Data);
  EXPECT_EQ(titled.value, "My Song");

  for (const char* comment : {"#KEY", "#", "# TITLE Song", "#A-B x", "TITLE x"}) {
    Line l(comment);
    EXPECT_EQ(l.kind, LineKind::Comment) << comment;
    EXPECT_EQ(l.value, comment);
  }
}

TEST(LineNew, UnicodeCharacterClasses) {
  // Marks, connector punctuation and join controls are word characters.
  Line mark("#TI\u0301TLE x");
  EXPECT_EQ(mark.kind, LineKind::Header);
  EXPECT_EQ(mark.key, "TI\u0301TLE");
  Line tie("#A\u203FB x");
  EXPECT_EQ(tie.kind, LineKind::Header);
  EXPECT_EQ(tie.key, "A\u203FB");
  EXPECT_EQ(Line("#A\u200DB x").kind, LineKind::Header);
  // SUPERSCRIPT TWO is a number but not a decimal digit: the key ends before
  // it and is followed by neither white space nor a colon.
  EXPECT_EQ(Line("#A\u00B2 x").kind, LineKind::Comment);

  Line ideographic("\u3000#TITLE\u3000Song\u3000");
  EXPECT_EQ(ideographic.kind, LineKind::Header);
  EXPECT_EQ(ideographic.value, "Song");

  Line bom("\uFEFF#TITLE Song");
  EXPECT_EQ(bom.kind, LineKind::Comment);
  EXPECT_EQ(bom.value, "\uFEFF#TITLE Song");
}

TEST(ValueReaders, Base36) {
  EXPECT_EQ(base36_digit(U'7'), 7u);
  EXPECT_EQ(base36_digit(U'a'), 10u);
  EXPECT_EQ(base36_digit(U'Z'), 35u);
  EXPECT_EQ(base36_digit(U'\u0661'), 0u);
  EXPECT_EQ(base36_digit(U'!'), 0u);
  EXPECT_EQ(base36_two(""), 0u);
  EXPECT_EQ(base36_two("z"), 35u);
  EXPECT_EQ(base36_two("10"), 36u);
  EXPECT_EQ(base36_two("0A"), 10u);
  EXPECT_EQ(base36_two("0a"), 10u);
  EXPECT_EQ(base36_two("ZZ"), 1295u);
  EXPECT_EQ(base36_two("1!"), 36u);
  EXPECT_EQ(base36_two("\u00e91"), 1u);    // by code point, not by byte
  EXPECT_EQ(base36_two("1\u00e9z"), 36u);  // third character ignored
}

TEST(ValueReaders, StripQuotes) {
  EXPECT_EQ(strip_quotes("  'abc'  "), "abc");
  EXPECT_EQ(strip_quotes("'a b'"), "a b");
  EXPECT_EQ(strip_quotes("\"abc'"), "\"abc'");
  EXPECT_EQ(strip_quotes("\"\""), "");
  EXPECT_EQ(strip_quotes("\"'x'\""), "'x'");
  EXPECT_EQ(strip_quotes("\" x \""), " x ");
  EXPECT_EQ(strip_quotes("plain"), "plain");
  EXPECT_EQ(strip_quotes(""), "");
  for (const char* lone : {"\"", "  '  ", "\u3000\"\u3000"}) {
    try {
      strip_quotes(lone);
      ADD_FAILURE() << "no error for " << lone;
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::Value);
    }
  }
}

TEST(ValueReaders, ParseScoreData) {
  EXPECT_TRUE(parse_score_data("").empty());
  EXPECT_TRUE(parse_score_data("1").empty());
  EXPECT_TRUE(parse_score_data("00").empty());
  auto a = parse_score_data("0011");
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].position, Fraction(1, 2));
  EXPECT_EQ(a[0].cell, "11");
  auto odd = parse_score_data("1111111");
  ASSERT_EQ(odd.size(), 3u);
  EXPECT_EQ(odd[2].position, Fraction(4, 7));
  auto blank = parse_score_data("11 22");
  ASSERT_EQ(blank.size(), 2u);
  EXPECT_EQ(blank[1].position, Fraction(2, 5));
  EXPECT_EQ(blank[1].cell, " 2");
  EXPECT_EQ(parse_score_data("0  0").size(), 2u);  // only a literal "00" is skipped
  // Positions count code points: four characters, two cells.
  auto wide = parse_score_data("1\u00e922");
  ASSERT_EQ(wide.size(), 2u);
  EXPECT_EQ(wide[0].cell, "1\u00e9");
  EXPECT_EQ(wide[1].position, Fraction(1, 2));
  EXPECT_EQ(wide[1].cell, "22");
}

TEST(ParseHeader, Metadata) {
  EXPECT_EQ(only<item::MetaField>("#TITLE \"My Song\"").meta.title, "My Song");
  EXPECT_EQ(only<item::MetaField>("#title 'x'").meta.title, "x");
  EXPECT_EQ(only<item::MetaField>("#Title x").meta.title, "x");
  // U+212A KELVIN SIGN lower-cases to an ASCII k.
  EXPECT_EQ(only<item::MetaField>("#JAC\u212AET j.png").meta.jacket, "j.png");
  EXPECT_EQ(only<item::MetaField>("#WAVEOFFSET 0.25").meta.waveoffset, "0.25");
  EXPECT_EQ(only<item::MetaField>("#BASEBPM 150").meta.basebpm, 150.0);
  EXPECT_EQ(only<item::MetaField>("#BASEBPM abc").meta, Meta{});  // still an item
  EXPECT_TRUE(parse("#TITLE: My Song").empty());
  EXPECT_TRUE(parse("#UNKNOWN x").empty());

  EXPECT_EQ(error_kind_of("#TITLE \""), ErrorKind::Value);
  std::string message;
  EXPECT_EQ(error_kind_of("#BASEBPM 1/0", &message), ErrorKind::ZeroDivision);
  EXPECT_EQ(message, "zero denominator in basebpm '1/0'");
  EXPECT_EQ(error_kind_of("#movieoffset \"2/0\""), ErrorKind::ZeroDivision);
}

TEST(ParseHeader, Request) {
  EXPECT_EQ(only<item::TicksPerBeat>("#REQUEST \"ticks_per_beat 480\"").ticks, 480);
  EXPECT_EQ(only<item::TicksPerBeat>("#REQUEST \"ticks_per_beat\u3000 0\"").ticks, 0);
  for (const char* none :
       {"#REQUEST ticks_per_beat 480", "#REQUEST 'ticks_per_beat 480'",
        "#REQUEST \"ticks_per_beat480\"", "#request \"ticks_per_beat 480\"",
        "#REQUEST \"ticks_per_beat 48000000000\"", "#REQUEST \"ticks_per_beat \u0664\u0668\u0660\"",
        "#REQUEST \"mertz\""}) {
    EXPECT_TRUE(parse(none).empty()) << none;
  }
  // The value is matched as stored, not trimmed.
  EXPECT_TRUE(Line("REQUEST", "\"ticks_per_beat 480\" ", LineKind::Header).parse().empty());
}

TEST(ParseHeader, HiSpeed) {
  EXPECT_EQ(only<item::HiSpeed>("#HISPEED 0a").id, 10);
  EXPECT_EQ(only<item::HiSpeed>("#HISPEED -1").id, -1);
  EXPECT_EQ(only<item::HiSpeed>("#HISPEED ZIK0ZK").id, 0);  // 2^31 is out of range
  EXPECT_EQ(only<item::HiSpeed>("#HISPEED 1.5").id, 0);
  EXPECT_EQ(only<item::HiSpeed>("#HISPEED +-1").id, 0);
  EXPECT_EQ(only<item::HiSpeed>("#NOSPEED x").id, std::nullopt);
  EXPECT_TRUE(parse("#NOSPEED").empty());
}

TEST(ParseData, BarLength) {
  auto e = only<item::BarLength>("#00202: 3").event;
  EXPECT_EQ(e.bar, Fraction(2));
  EXPECT_EQ(e.bar_length, Fraction(3));
  EXPECT_EQ(e.bpm, std::nullopt);
  EXPECT_EQ(only<item::BarLength>("#00202:").event.bar_length, Fraction(4));
  EXPECT_EQ(only<item::BarLength>("#00202: 3.5").event.bar_length, Fraction(4));
  EXPECT_EQ(only<item::BarLength>("#00202: \"3\"").event.bar_length, Fraction(4));
  EXPECT_EQ(only<item::BarLength>("#00202: 0").event.bar_length, Fraction(0));
  EXPECT_EQ(only<item::BarLength>("#00202: -2").event.bar_length, Fraction(-2));
  EXPECT_EQ(only<item::BarLength>("#00202: \u0663").event.bar_length, Fraction(4));
  // Arabic-Indic digits match the measure pattern but do not read: measure 0.
  auto arabic = only<item::BarLength>("#\u0661\u0662\u066302: 3").event;
  EXPECT_EQ(arabic.bar, Fraction(0));
  EXPECT_EQ(arabic.bar_length, Fraction(3));
}

TEST(ParseData, BpmDefinitionsAndChanges) {
  auto def = only<item::BpmDefinition>("#BPM01: 120");
  EXPECT_EQ(def.value, Fraction(120));
  EXPECT_EQ(def.id, 1u);
  EXPECT_EQ(only<item::BpmDefinition>("#BPM01: 120.5").value, Fraction(241, 2));
  EXPECT_EQ(only<item::BpmDefinition>("#BPM0z: 90").id, 35u);
  EXPECT_EQ(only<item::BpmDefinition>("#BPM0A: 90").id, only<item::BpmDefinition>("#BPM0a: 90").id);
  EXPECT_TRUE(parse("#BPM01: fast").empty());
  EXPECT_TRUE(parse("#BPM01 120").empty());
  EXPECT_TRUE(parse("#BPM012: 120").empty());
  std::string message;
  EXPECT_EQ(error_kind_of("#BPM01: 1/0", &message), ErrorKind::ZeroDivision);
  EXPECT_EQ(message, "zero denominator in BPM definition '1/0'");

  auto change = only<item::BpmChange>("#00308: 0100");
  EXPECT_EQ(change.bar, Fraction(3));
  EXPECT_EQ(change.id, 1u);
  EXPECT_EQ(only<item::BpmChange>("#00308: 0010").id, 36u);
  EXPECT_EQ(only<item::BpmChange>("#00308: 0010").bar, Fraction(7, 2));
  EXPECT_TRUE(parse("#00308: 00").empty());
}

TEST(ParseData, SpeedTimeline) {
  auto tl = only<item::SpeedTimeline>("#TIL0a: \"2'0:1.5, 0'480:2.0, 0'0:1.0\"");
  EXPECT_EQ(tl.id, 10u);
  ASSERT_EQ(tl.entries.size(), 3u);
  EXPECT_EQ(tl.entries[0].tick, 0);
  EXPECT_EQ(tl.entries[1].tick, 480);
  EXPECT_EQ(tl.entries[1].speed, 2.0);
  EXPECT_EQ(tl.entries[2].measure, 2);
  EXPECT_EQ(tl.entries[2].speed, 1.5);

  EXPECT_EQ(only<item::SpeedTimeline>("#TIL00: 0'0:1.0").entries.size(), 1u);
  EXPECT_TRUE(only<item::SpeedTimeline>("#TIL00:").entries.empty());
  EXPECT_TRUE(only<item::SpeedTimeline>("#TIL00: none").entries.empty());
  EXPECT_TRUE(only<item::SpeedTimeline>("#TIL00: \"\"").entries.empty());

  // Equal keys keep text order; a comma ends the speed; junk between skipped.
  auto stable = only<item::SpeedTimeline>("#TIL00: 1'0:3,x 0'0:2 ;; 0'0:1");
  ASSERT_EQ(stable.entries.size(), 3u);
  EXPECT_EQ(stable.entries[0].speed, 2.0);
  EXPECT_EQ(stable.entries[1].speed, 1.0);
  EXPECT_EQ(stable.entries[2].speed, 3.0);

  auto bad = only<item::SpeedTimeline>("#TIL00: 99999999999'\u0663:2").entries;
  ASSERT_EQ(bad.size(), 1u);
  EXPECT_EQ(bad[0].measure, 0);
  EXPECT_EQ(bad[0].tick, 0);
  EXPECT_EQ(bad[0].speed, 2.0);

  EXPECT_EQ(error_kind_of("#TIL00: '"), ErrorKind::Value);
}

// The float grammar itself is tested with the shared reader (test_numbers);
// here: the speed takes the float reader's value, and 1.0 when it fails.
TEST(ParseData, SpeedFloatGrammar) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::pair<const char*, double> cases[] = {
      {"2.", 2.0},      {".5", 0.5},    {"-2", -2.0},      {"2.5e+1", 25.0},
      {"-Infinity", -inf}, {"1e999", inf}, {"1e", 1.0},    {"nan(1)", 1.0},
      {"1.5x", 1.0},    {"\u0663", 1.0},
  };
  for (const auto& [text, expected] : cases) {
    auto tl = only<item::SpeedTimeline>(std::string("#TIL00: 0'0:") + text);
    ASSERT_EQ(tl.entries.size(), 1u) << text;
    EXPECT_EQ(tl.entries[0].speed, expected) << text;
  }
  auto nan = only<item::SpeedTimeline>("#TIL00: 0'0:NaN");
  ASSERT_EQ(nan.entries.size(), 1u);
  EXPECT_TRUE(std::isnan(nan.entries[0].speed));
}

TEST(ParseData, Notes) {
  // 14005300: cells "14", "00", "53", "00" on lane 4 of measure 1.
  auto example = notes_of("#00114: 14005300");
  ASSERT_EQ(example.size(), 2u);
  EXPECT_TRUE(example[0].is_tap());
  EXPECT_EQ(example[0].base.bar, Fraction(1));
  EXPECT_EQ(example[0].base.lane, 4u);
  EXPECT_EQ(example[0].base.note_type, 1u);
  EXPECT_EQ(example[0].base.width, 4u);
  EXPECT_EQ(example[1].base.bar, Fraction(3, 2));
  EXPECT_EQ(example[1].base.note_type, 5u);
  EXPECT_EQ(example[1].base.width, 3u);

  auto lane10 = notes_of("#0001a: 1111");
  ASSERT_EQ(lane10.size(), 2u);
  EXPECT_EQ(lane10[0].base.lane, 10u);
  EXPECT_EQ(lane10[1].base.bar, Fraction(1, 2));

  auto flick = notes_of("#00050: 31");
  ASSERT_EQ(flick.size(), 1u);
  EXPECT_TRUE(flick[0].is_directional());
  EXPECT_EQ(flick[0].base.note_type, 3u);
  EXPECT_EQ(flick[0].directional.tap, kNoLink);

  auto plain = notes_of("#000310: 1100");
  ASSERT_EQ(plain.size(), 1u);
  EXPECT_TRUE(plain[0].is_slide());
  EXPECT_EQ(plain[0].base.lane, 1u);
  EXPECT_EQ(plain[0].slide.channel, 0u);
  EXPECT_FALSE(plain[0].slide.decoration);
  EXPECT_EQ(plain[0].slide.next, kNoLink);
  auto deco = notes_of("#0009zY: 11");
  ASSERT_EQ(deco.size(), 1u);
  EXPECT_TRUE(deco[0].slide.decoration);
  EXPECT_EQ(deco[0].base.lane, 35u);
  EXPECT_EQ(deco[0].slide.channel, 34u);

  auto odd = notes_of("#00010: 111");
  ASSERT_EQ(odd.size(), 1u);
  auto blank = notes_of("#00010: 11 11");
  ASSERT_EQ(blank.size(), 2u);
  EXPECT_EQ(blank[1].base.bar, Fraction(2, 5));
  EXPECT_EQ(blank[1].base.note_type, 0u);
  EXPECT_EQ(blank[1].base.width, 1u);

  // Any word character fills a lane slot and reads as digit 0; non-ASCII
  // measure digits read as measure 0.
  auto foreign = notes_of("#\u0661\u0662\u06631\u00e9: 1\u00e922");
  ASSERT_EQ(foreign.size(), 2u);
  EXPECT_EQ(foreign[0].base.bar, Fraction(0));
  EXPECT_EQ(foreign[0].base.lane, 0u);
  EXPECT_EQ(foreign[0].base.width, 0u);
  EXPECT_EQ(foreign[1].base.bar, Fraction(1, 2));

  EXPECT_TRUE(parse("#00047: 11").empty());  // no row 4
  EXPECT_TRUE(parse("#0011: 11").empty());
}

// Records what a line hands over, in order.
class Recorder final : public ItemSink {
 public:
  std::vector<std::string> log;
  void take(item::MetaField&&) override { log.push_back("meta"); }
  void take(const item::TicksPerBeat&) override { log.push_back("ticks"); }
  void take(const item::HiSpeed&) override { log.push_back("hi-speed"); }
  void take(item::SpeedTimeline&&) override { log.push_back("timeline"); }
  void take(item::BarLength&&) override { log.push_back("bar length"); }
  void take(const item::BpmDefinition&) override { log.push_back("bpm"); }
  void take(const item::BpmChange&) override { log.push_back("bpm change"); }
  void expect_notes(std::size_t count) override { log.push_back("expect " + std::to_string(count)); }
  void take(const NoteCell& cell) override {
    log.push_back("note " + std::to_string(cell.note_type) + " " + std::to_string(cell.width));
  }
};

TEST(ParseToSink, HandsItemsOverInOrderAndKeepsThemOnError) {
  Recorder r;
  Line("#BPM01: 120").parse(r);
  Line("#00010: 1100230a").parse(r);
  Line("#00010: 1\u00e922").parse(r);
  Line("#00010: 00").parse(r);
  Line("comment text").parse(r);
  // A note line announces at most half its value's bytes as notes.
  const std::vector<std::string> expected = {"bpm",     "expect 4", "note 1 1", "note 2 3",
                                             "note 0 10", "expect 2", "note 1 0", "note 2 2",
                                             "expect 1"};
  EXPECT_EQ(r.log, expected);
  EXPECT_THROW(Line("#TIL00: \"").parse(r), Error);
  EXPECT_EQ(r.log, expected);
}

}  // namespace
}  // namespace corvane

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "error.hpp"
#include "rebase.hpp"
#include "support/chart_gen.hpp"
#include "support/events.hpp"
#include "unicode.hpp"

using namespace corvane;

namespace {

NoteData tap(Fraction bar, std::uint32_t lane = 2, std::uint32_t width = 1, std::uint32_t type = 1) {
  return NoteData::tap(NoteBase{bar, lane, width, type});
}

using corvane::testing::bpm_at;

Score make_score(std::vector<NoteData> notes, std::vector<Event> events) {
  Score s;
  s.notes = std::move(notes);
  s.events = std::move(events);
  s.init_notes();
  s.init_events();
  return s;
}

std::string json_error(std::string_view text) {
  try {
    Rebase::from_json(text);
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::Json);
    return e.what();
  }
  ADD_FAILURE() << "no error for " << text;
  return {};
}

// Every field and link, so that relinking is compared exactly.
void expect_same_notes(const std::vector<NoteData>& a, const std::vector<NoteData>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(a[i].kind, b[i].kind);
    EXPECT_EQ(a[i].base.bar, b[i].base.bar);
    EXPECT_EQ(a[i].base.lane, b[i].base.lane);
    EXPECT_EQ(a[i].base.width, b[i].base.width);
    EXPECT_EQ(a[i].base.note_type, b[i].base.note_type);
    EXPECT_EQ(a[i].directional.tap, b[i].directional.tap);
    EXPECT_EQ(a[i].slide.tap, b[i].slide.tap);
    EXPECT_EQ(a[i].slide.directional, b[i].slide.directional);
    EXPECT_EQ(a[i].slide.next, b[i].slide.next);
    EXPECT_EQ(a[i].slide.head, b[i].slide.head);
    EXPECT_EQ(a[i].slide.channel, b[i].slide.channel);
    EXPECT_EQ(a[i].slide.decoration, b[i].slide.decoration);
  }
}

}  // namespace

// --- reading documents -------------------------------------------------------

TEST(RebaseJson, NonObjectRootsAreEmptyAndBrokenTextFails) {
  for (const char* text : {"{}", "[]", "null", " 3 "}) {
    Rebase r = Rebase::from_json(text);
    EXPECT_EQ(r.offset, 0.0);
    EXPECT_TRUE(r.events.empty());
    EXPECT_EQ(r.meta, Meta{});
  }
  EXPECT_NE(json_error("").find("at line 1 column 1"), std::string::npos);
  EXPECT_NE(json_error("{").find("at line 1 column 2"), std::string::npos);
  EXPECT_NE(json_error("{} x").find("at line 1 column 4"), std::string::npos);
}

TEST(RebaseJson, ErrorsNameLineAndCharacterColumn) {
  EXPECT_NE(json_error("{\n  \"offset\": x\n}").find("at line 2 column 13"), std::string::npos);
  // "é" is one character though two bytes.
  EXPECT_NE(json_error("[\"\u00E9\", x]").find("at line 1 column 7"), std::string::npos);
  // A number beyond the double range is the parser's error too, with a position.
  EXPECT_NE(json_error("{\"offset\": 1e400}").find("at line 1 column 16"), std::string::npos);
  // The message never carries a cut multi-byte character of the input.
  const std::string cut = json_error("[nul\u00E9]");
  EXPECT_TRUE(unicode::is_valid_utf8(cut)) << cut;
  EXPECT_EQ(cut.find('\xC3'), std::string::npos);
}

TEST(RebaseJson, EventKeys) {
  Rebase r = Rebase::from_json(R"({"offset": 1.5, "events": [
      {"bar": 2.5, "bpm": 150},
      {"barLength": 3, "section": "A", "text": "", "speed": 2, "Bpm": 99},
      7,
      {"bar": "3", "bpm": 1e30}
  ]})");
  EXPECT_EQ(r.offset, 1.5);
  ASSERT_EQ(r.events.size(), 4u);
  Event first = bpm_at(Fraction(5, 2), 150);
  EXPECT_EQ(r.events[0], first);
  Event second;
  second.bar_length = Fraction(3);
  second.section = "A";
  second.text = "";
  EXPECT_EQ(r.events[1], second);
  EXPECT_EQ(r.events[2], Event{});
  EXPECT_EQ(r.events[3], bpm_at(0, std::numeric_limits<std::int64_t>::max()));
}

TEST(RebaseJson, SentenceLengthOnlyFromIntegersWrappedTo32Bits) {
  auto sentence = [](const std::string& v) {
    return Rebase::from_json(R"({"events": [{"sentenceLength": )" + v + "}]}").events.at(0).sentence_length;
  };
  EXPECT_EQ(sentence("4"), 4);
  EXPECT_EQ(sentence("-1"), -1);
  EXPECT_EQ(sentence("4294967297"), 1);
  EXPECT_EQ(sentence("2147483648"), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(sentence("9223372036854775807"), -1);
  EXPECT_EQ(sentence("-9223372036854775808"), 0);
  EXPECT_EQ(sentence("9223372036854775808"), std::nullopt);
  EXPECT_EQ(sentence("4.0"), std::nullopt);
  EXPECT_EQ(sentence("4e0"), std::nullopt);
  EXPECT_EQ(sentence("\"4\""), std::nullopt);
}

TEST(RebaseJson, MetaStringsAndNumbers) {
  Rebase r = Rebase::from_json(
      R"({"meta": {"title": "X", "basebpm": 150, "playlevel": 30, "genre": null, "Artist": "Y",
                   "movieoffset": "1/4", "designer": true}})");
  Meta want;
  want.title = "X";
  want.basebpm = 150.0;
  want.playlevel = "30";
  want.movieoffset = 0.25;
  EXPECT_EQ(r.meta, want);
}

TEST(RebaseJson, MetaNumbersAreShortestPositionalDecimals) {
  auto title = [](const std::string& v) {
    return Rebase::from_json(R"({"meta": {"title": )" + v + "}}").meta.title.value_or("<absent>");
  };
  EXPECT_EQ(title("120"), "120");
  EXPECT_EQ(title("120.5"), "120.5");
  EXPECT_EQ(title("-2.5"), "-2.5");
  EXPECT_EQ(title("0.1"), "0.1");
  EXPECT_EQ(title("1e21"), "1000000000000000000000");
  EXPECT_EQ(title("1e-7"), "0.0000001");
  EXPECT_EQ(title("1.25e-5"), "0.0000125");
  EXPECT_EQ(title("123456.789e3"), "123456789");
  EXPECT_EQ(title("18446744073709551615"), "18446744073709552000");
  EXPECT_EQ(title("-9223372036854775808"), "-9223372036854776000");
  EXPECT_EQ(title("5e-324"), "0." + std::string(323, '0') + "5");
  EXPECT_EQ(title("1.5e300"), "15" + std::string(299, '0'));
}

// --- applying ------------------------------------------------------------------

TEST(RebaseApply, MovesNotesByOldTimeLessOffsetAndReplacesTempo) {
  Score s = make_score({tap(2)}, {bpm_at(0, 120)});
  s.meta.title = "A";
  Rebase r = Rebase::from_json(
      R"({"offset": 1, "events": [{"bar": 0, "bpm": 60}], "meta": {"title": "B", "artist": "C"}})");
  Score n = r.apply(s);
  ASSERT_EQ(n.notes.size(), 1u);
  EXPECT_EQ(n.notes[0].base.bar, Fraction(3, 4));
  EXPECT_EQ(n.active_notes, std::vector<std::size_t>{0});
  EXPECT_EQ(n.events, std::vector<Event>{bpm_at(0, 60)});
  EXPECT_EQ(n.meta.title, "A");
  EXPECT_EQ(n.meta.artist, "C");
  EXPECT_FALSE(n.timing_table().has_value());
}

TEST(RebaseApply, LinkedNotesMoveTogetherAndAreRelinked) {
  // Tap, flick and slide start at one place, then the slide's end.
  Score s = make_score({tap(1, 4, 2, 2), NoteData::make_directional({1, 4, 2, 1}),
                        NoteData::make_slide({1, 4, 2, 1}, 3, true),
                        NoteData::make_slide({2, 5, 2, 2}, 3, true)},
                       {});
  ASSERT_EQ(s.active_notes, (std::vector<std::size_t>{2, 3}));
  Score n = Rebase::from_json(R"({"events": [{"bar": 0, "bpm": 60}]})").apply(s);

  // Old times 2 s and 4 s land at bars 1/2 and 1 at four seconds a bar; the
  // structure is the old one with every note moved.
  std::vector<NoteData> want = s.notes;
  for (auto& note : want) note.base.bar = note.base.bar / 2;
  // Appended as step, tap, flick; the sort keeps that order at one bar.
  std::swap(want[0], want[2]);
  std::swap(want[1], want[2]);
  want[0].slide.tap = 1;
  want[0].slide.directional = 2;
  want[0].slide.head = 0;
  want[2].directional.tap = 1;
  want[3].slide.head = 0;
  expect_same_notes(n.notes, want);
  EXPECT_EQ(n.active_notes, (std::vector<std::size_t>{0, 3}));
}

TEST(RebaseApply, CarriesSpeedAndTextEventsOnly) {
  Event speed;
  speed.bar = 1;
  speed.speed = 0.5;
  Event bar_length;
  bar_length.bar_length = Fraction(4);
  Event section;
  section.bar = 4;
  section.section = "verse";
  // The lane-0 note becomes a SKILL event, the lane-15 type-1 note FEVER.
  Score s = make_score({tap(2, 0), tap(3, 15, 2, 1), tap(3)},
                       {bpm_at(0, 120), bar_length, speed, bpm_at(3, 240), section});
  Score n = Rebase::from_json(R"({"events": [{"bar": 0, "bpm": 60}]})").apply(s);

  auto text_at = [](Fraction bar, const char* text) {
    Event e;
    e.bar = bar;
    e.text = text;
    return e;
  };
  Event moved_speed = speed;
  moved_speed.bar = Fraction(1, 2);
  EXPECT_EQ(n.events, (std::vector<Event>{bpm_at(0, 60), moved_speed, text_at(1, "SKILL"),
                                          text_at(Fraction(3, 2), "FEVER CHANCE!")}));
  ASSERT_EQ(n.notes.size(), 1u);
  EXPECT_EQ(n.notes[0].base.bar, Fraction(3, 2));
}

TEST(RebaseApply, OutOfOrderEventsAreWalkedInDocumentOrder) {
  Score s = make_score({tap(3)}, {});  // 6 seconds
  Rebase r = Rebase::from_json(R"({"events": [{"bar": 2, "bpm": 240}, {"bar": 0, "bpm": 60}]})");
  Score n = r.apply(s);

  // The walk in document order; sorted, bar 3/2 would be the answer.
  Score walked;
  walked.events = r.events;
  EXPECT_EQ(n.notes.at(0).base.bar, walked.get_bar_by_time(6.0));
  EXPECT_EQ(n.notes.at(0).base.bar, Fraction(1));
  EXPECT_EQ(n.events, (std::vector<Event>{bpm_at(0, 60), bpm_at(2, 240)}));
}

TEST(RebaseApply, WithoutEventsTheInitialTempoMapsEverything) {
  Event speed;
  speed.bar = 1;  // 2 s
  speed.speed = 2.0;
  Event skill;
  skill.bar = 3;  // 6 s
  skill.text = "SKILL";
  Score s = make_score({tap(3), tap(4)}, {speed, skill});
  Score n = Rebase::from_json(R"({"offset": 1})").apply(s);

  EXPECT_EQ(n.notes.at(0).base.bar, Fraction(5, 2));
  EXPECT_EQ(n.notes.at(1).base.bar, Fraction(7, 2));
  // The second carried event is placed with the first already in the list,
  // which then lies after bar 0: still (old time - offset) / 2.
  ASSERT_EQ(n.events.size(), 2u);
  EXPECT_EQ(n.events[0].bar, Fraction(1, 2));
  EXPECT_EQ(n.events[1].bar, Fraction(5, 2));
}

TEST(RebaseApply, FirstRebaseEventAfterBarZeroInvertsTheTimingTable) {
  Score s = make_score({tap(1), tap(5)}, {});  // 2 s and 10 s
  Score n = Rebase::from_json(R"({"events": [{"bar": 2, "bpm": 60}]})").apply(s);
  // Bar 2 sits at 4 s (initial tempo up to it); four seconds a bar around it.
  EXPECT_EQ(n.notes.at(0).base.bar, Fraction(3, 2));
  EXPECT_EQ(n.notes.at(1).base.bar, Fraction(7, 2));
  EXPECT_EQ(n.get_timed_event(n.notes[0].base.bar).first, Fraction(2));
  EXPECT_EQ(n.get_timed_event(n.notes[1].base.bar).first, Fraction(10));
}

TEST(RebaseApply, GeneratedChartIsRepeatableAndLeavesTheScoreAlone) {
  Score s = Score::from_str(generate_chart(60, 7));
  ASSERT_GT(s.active_notes.size(), 100u);
  const Score before = s;
  Rebase r = Rebase::from_json(R"({"offset": -0.75, "events": [
      {"bar": 0, "bpm": 150, "barLength": 4}, {"bar": 8, "bpm": 200},
      {"bar": 20, "barLength": 3}, {"bar": 31.5, "bpm": 90}], "meta": {"title": "ignored"}})");
  const Score a = r.apply(s);
  const Score b = r.apply(s);

  expect_same_notes(a.notes, b.notes);
  EXPECT_EQ(a.events, b.events);
  EXPECT_EQ(a.meta, b.meta);
  EXPECT_EQ(a.meta.title, before.meta.title);
  expect_same_notes(s.notes, before.notes);
  EXPECT_EQ(s.active_notes, before.active_notes);
  EXPECT_EQ(s.events, before.events);
  EXPECT_EQ(s.meta, before.meta);
  EXPECT_EQ(a.active_notes.size(), s.active_notes.size());

  // Every note sits where its old time less the offset falls on the new map.
  Score timed = a;
  std::vector<double> old_times;
  for (const NoteData& note : s.notes)
    if (is_playable_lane(note.base.lane)) old_times.push_back(s.get_timed_event(note.base.bar).first.to_double());
  std::vector<double> new_times;
  for (const NoteData& note : a.notes) new_times.push_back(timed.get_timed_event(note.base.bar).first.to_double() - 0.75);
  std::sort(old_times.begin(), old_times.end());
  std::sort(new_times.begin(), new_times.end());
  ASSERT_LE(new_times.size(), old_times.size());
  for (double t : new_times) {
    auto it = std::lower_bound(old_times.begin(), old_times.end(), t - 1e-4);
    ASSERT_NE(it, old_times.end());
    EXPECT_NEAR(*it, t, 1e-4);
  }
}

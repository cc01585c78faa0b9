#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "error.hpp"
#include "score.hpp"
#include "support/chart_gen.hpp"
#include "support/timing_table_access.hpp"

using corvane::Error;
using corvane::ErrorKind;
using corvane::Event;
using corvane::Fraction;
using corvane::kNoLink;
using corvane::Line;
using corvane::NoteData;
using corvane::Score;
using corvane::TimingTableAccess;

namespace {

std::vector<std::size_t> idx(std::initializer_list<std::size_t> l) { return l; }

// Index of the first note with this kind, lane and bar.
std::size_t find_note(const Score& s, NoteData::Kind kind, std::uint32_t lane, Fraction bar) {
  for (std::size_t i = 0; i < s.notes.size(); ++i)
    if (s.notes[i].kind == kind && s.notes[i].base.lane == lane && s.notes[i].base.bar == bar) return i;
  ADD_FAILURE() << "note not found";
  return kNoLink;
}

// Error kind and message of a failing from_str.
std::pair<ErrorKind, std::string> error_of(const std::string& chart) {
  try {
    Score::from_str(chart);
  } catch (const Error& e) {
    return {e.kind(), e.what()};
  }
  ADD_FAILURE() << "expected an error";
  return {ErrorKind::Runtime, ""};
}

// Temporary file removed on scope exit.
struct TempFile {
  std::string path;
  explicit TempFile(const std::string& content) {
    char name[] = "/tmp/corvane_score_XXXXXX";
    int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    path = name;
    EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(fd);
  }
  ~TempFile() { std::remove(path.c_str()); }
};

// Straightforward linker, step by step as the chart format defines it, to
// cross-check the indexed one on large charts.
void reference_link(std::vector<NoteData>& notes, std::vector<std::size_t>& active) {
  const std::size_t n = notes.size();
  std::vector<bool> used(n, false);
  std::map<Fraction, std::vector<std::size_t>> by_bar;
  for (std::size_t i = 0; i < n; ++i) {
    if (notes[i].base.lane < 2 || notes[i].base.lane > 13)
      used[i] = true;
    else
      by_bar[notes[i].base.bar].push_back(i);
  }
  auto same_place = [&](std::size_t a, std::size_t b) {
    return notes[a].base.lane == notes[b].base.lane && notes[a].base.width == notes[b].base.width;
  };
  for (std::size_t i = 0; i < n; ++i) {
    if (used[i] || !notes[i].is_directional()) continue;
    for (std::size_t j : by_bar[notes[i].base.bar])
      if (!used[j] && notes[j].is_tap() && same_place(i, j)) {
        used[j] = true;
        notes[i].directional.tap = j;
      }
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (used[i] || !notes[i].is_slide()) continue;
    if (notes[i].slide.head == kNoLink) notes[i].slide.head = i;
    for (std::size_t j : by_bar[notes[i].base.bar])
      if (!used[j] && notes[j].is_tap() && same_place(i, j)) {
        used[j] = true;
        notes[i].slide.tap = j;
      }
    for (std::size_t j : by_bar[notes[i].base.bar])
      if (!used[j] && notes[j].is_directional() && same_place(i, j)) {
        used[j] = true;
        notes[i].slide.directional = j;
        if (notes[j].directional.tap != kNoLink) notes[i].slide.tap = notes[j].directional.tap;
      }
    if (notes[i].base.note_type == 2) continue;
    for (std::size_t k = i + 1; k < n; ++k) {
      if (!used[k] && notes[k].is_slide() && notes[k].slide.channel == notes[i].slide.channel &&
          notes[k].slide.decoration == notes[i].slide.decoration) {
        notes[i].slide.next = k;
        notes[k].slide.head = notes[i].slide.head;
        break;
      }
    }
  }
  active.clear();
  for (std::size_t i = 0; i < n; ++i)
    if (!used[i]) active.push_back(i);
}

void clear_links(std::vector<NoteData>& notes) {
  for (NoteData& n : notes) {
    n.directional = {};
    n.slide.tap = n.slide.directional = n.slide.next = n.slide.head = kNoLink;
  }
}

}  // namespace

TEST(ScoreHeaders, FirstSetValueWins) {
  Score s = Score::from_str("#TITLE A\n#TITLE B\n#ARTIST \"\"\n#ARTIST X\n#BASEBPM 0\n#BASEBPM 120\n#basebpm 90\n");
  EXPECT_EQ(s.meta.title, "A");
  EXPECT_EQ(s.meta.artist, "X");
  EXPECT_EQ(s.meta.basebpm, 120.0);
  EXPECT_FALSE(s.meta.genre);
}

TEST(ScoreEvents, BpmChangesUseTheDefinitionInForce) {
  Score s = Score::from_str(
      "#00008: 01\n"   // before the definition: dropped
      "#BPM01: 150\n"
      "#00108: 01\n"
      "#BPM01: 90\n"
      "#00208: 0001\n"
      "#00308: 02\n");  // never defined
  ASSERT_EQ(s.events.size(), 2u);
  EXPECT_EQ(s.events[0].bar, Fraction(1));
  EXPECT_EQ(s.events[0].bpm, Fraction(150));
  EXPECT_EQ(s.events[1].bar, Fraction(5, 2));
  EXPECT_EQ(s.events[1].bpm, Fraction(90));
  EXPECT_FALSE(s.events[1].bar_length || s.events[1].speed || s.events[1].text);
}

TEST(ScoreEvents, HiSpeedTicksUseTicksPerBeatInForce) {
  Score s = Score::from_str(
      "#TIL00: \"2'960:1.5\"\n"
      "#REQUEST \"ticks_per_beat 240\"\n"
      "#TIL01: \"2'960:0.5, 0'0:2.0\"\n"
      "#NOSPEED x\n");
  ASSERT_EQ(s.events.size(), 3u);
  EXPECT_EQ(s.events[0].bar, Fraction(0));
  EXPECT_EQ(s.events[0].speed, 2.0);
  EXPECT_EQ(s.events[1].bar, Fraction(5, 2));
  EXPECT_EQ(s.events[1].speed, 1.5);
  EXPECT_EQ(s.events[2].bar, Fraction(3));
  EXPECT_EQ(s.events[2].speed, 0.5);
  EXPECT_FALSE(s.events[2].bpm);
}

TEST(ScoreEvents, SpecialLanesBecomeEvents) {
  Score s = Score::from_str(
      "#00010: 11\n"    // lane 0: SKILL
      "#00011: 0011\n"  // lane 1, type 1
      "#0001e: 000021\n"  // lane 14, type 2
      "#0001f: 00000031\n"  // lane 15, type 3
      "#00012: 11\n");  // lane 2 is playable
  ASSERT_EQ(s.events.size(), 4u);
  EXPECT_EQ(s.events[0].text, "SKILL");
  EXPECT_EQ(s.events[0].bar, Fraction(0));
  EXPECT_EQ(s.events[1].text, "FEVER CHANCE!");
  EXPECT_EQ(s.events[1].bar, Fraction(1, 2));
  EXPECT_EQ(s.events[2].text, "SUPER FEVER!!");
  EXPECT_EQ(s.events[2].bar, Fraction(2, 3));
  EXPECT_EQ(s.events[3].text, "SUPER FEVER!!");
  EXPECT_FALSE(s.events[0].bpm || s.events[0].speed);
  ASSERT_EQ(s.notes.size(), 5u);
  ASSERT_EQ(s.active_notes.size(), 1u);
  EXPECT_EQ(s.notes[s.active_notes[0]].base.lane, 2u);
}

TEST(ScoreEvents, OnlyConsecutiveDuplicatesAreDropped) {
  Score once = Score::from_str("#00102: 3\n#00102: 3\n");
  EXPECT_EQ(once.events.size(), 1u);

  Score apart = Score::from_str("#00102: 3\n#00102: 5\n#00102: 3\n");
  ASSERT_EQ(apart.events.size(), 3u);
  EXPECT_EQ(apart.events[1].bar_length, Fraction(5));

  // Chart events sort before note events at the same bar, so the two equal
  // bar lengths stay next to each other despite the SKILL line before them.
  Score mixed = Score::from_str("#00010: 11\n#00102: 3\n#00002: 4\n#00002: 4\n");
  ASSERT_EQ(mixed.events.size(), 3u);
  EXPECT_EQ(mixed.events[0].bar_length, Fraction(4));
  EXPECT_EQ(mixed.events[1].text, "SKILL");
  EXPECT_EQ(mixed.events[2].bar, Fraction(1));

  // NaN speeds never equal each other, so both stay.
  Score nan = Score::from_str("#TIL00: \"0'0:nan, 0'0:nan\"\n");
  EXPECT_EQ(nan.events.size(), 2u);
  Score twice = Score::from_str("#TIL00: \"0'0:1.5, 0'0:1.5\"\n");
  EXPECT_EQ(twice.events.size(), 1u);
}

TEST(ScoreEvents, InitEventsClearsTheTimingTable) {
  Score s = Score::from_str("#00002: 3\n");
  TimingTableAccess::table(s).emplace();
  s.init_events();
  EXPECT_FALSE(s.timing_table());
}

TEST(ScoreLinking, EmptyChart) {
  Score s = Score::from_str("");
  EXPECT_TRUE(s.notes.empty());
  EXPECT_TRUE(s.active_notes.empty());
  EXPECT_TRUE(s.events.empty());
  EXPECT_EQ(s.meta, corvane::Meta{});
}

TEST(ScoreLinking, FlickAbsorbsEveryTapUnderIt) {
  // Two taps at the same bar, lane and width: both absorbed, link to the later.
  Score s = Score::from_str("#00014: 12\n#00014: 22\n#00054: 32\n#00015: 13\n");
  ASSERT_EQ(s.notes.size(), 4u);
  std::size_t flick = find_note(s, NoteData::Kind::Directional, 4, Fraction(0));
  EXPECT_EQ(s.notes[flick].directional.tap, 1u);
  EXPECT_EQ(s.notes[1].base.note_type, 2u);
  // The tap on lane 5 stays active.
  EXPECT_EQ(s.active_notes, idx({2, 3}));

  // Another width is not absorbed.
  Score w = Score::from_str("#00014: 12\n#00054: 33\n");
  EXPECT_EQ(w.active_notes, idx({0, 1}));
  EXPECT_EQ(w.notes[1].directional.tap, kNoLink);

  // Only the first flick of a place gets the taps.
  Score two = Score::from_str("#00054: 12\n#00014: 22\n#00054: 32\n");
  EXPECT_EQ(two.notes[0].directional.tap, 1u);
  EXPECT_EQ(two.notes[2].directional.tap, kNoLink);
  EXPECT_EQ(two.active_notes, idx({0, 2}));
}

TEST(ScoreLinking, TapFlickAndSlideStep) {
  Score s = Score::from_str("#00014: 22\n#00054: 12\n#000340: 12\n");
  ASSERT_EQ(s.notes.size(), 3u);
  const auto& step = s.notes[2];
  ASSERT_TRUE(step.is_slide());
  EXPECT_EQ(s.notes[1].directional.tap, 0u);
  EXPECT_EQ(step.slide.directional, 1u);
  EXPECT_EQ(step.slide.tap, 0u);
  EXPECT_EQ(step.slide.head, 2u);
  EXPECT_EQ(step.slide.next, kNoLink);
  EXPECT_EQ(s.active_notes, idx({2}));

  // A step first in text order still wins the tap and flick at its bar.
  Score first = Score::from_str("#000940: 12\n#00014: 22\n");
  EXPECT_EQ(first.notes[0].slide.tap, 1u);
  EXPECT_EQ(first.active_notes, idx({0}));
}

TEST(ScoreLinking, SlideChains) {
  // Channel 0 plain steps of types 1, 3, 2, 1, 2 at 0, 1/5 .. 4/5; a channel-1
  // step and a decoration step on channel 0 at 1/2.
  Score s = Score::from_str(
      "#000320: 1232221222\n"
      "#000321: 0012\n"
      "#000920: 0012\n");
  ASSERT_EQ(s.notes.size(), 7u);
  EXPECT_EQ(s.notes[3].slide.channel, 1u);
  EXPECT_TRUE(s.notes[4].slide.decoration);

  EXPECT_EQ(s.notes[0].slide.next, 1u);
  EXPECT_EQ(s.notes[1].slide.next, 2u);
  EXPECT_EQ(s.notes[2].slide.next, kNoLink);  // type 2 ends the chain
  for (std::size_t i : {0u, 1u, 2u}) EXPECT_EQ(s.notes[i].slide.head, 0u) << i;
  EXPECT_EQ(s.notes[5].slide.head, 5u);  // starts its own chain
  EXPECT_EQ(s.notes[5].slide.next, 6u);
  EXPECT_EQ(s.notes[6].slide.head, 5u);
  EXPECT_EQ(s.notes[6].slide.next, kNoLink);
  // Other channel and the decoration kind are never chained in.
  EXPECT_EQ(s.notes[3].slide.head, 3u);
  EXPECT_EQ(s.notes[3].slide.next, kNoLink);
  EXPECT_EQ(s.notes[4].slide.head, 4u);
  EXPECT_EQ(s.notes[4].slide.next, kNoLink);
  EXPECT_EQ(s.active_notes.size(), 7u);
}

TEST(ScoreLinking, ChainsCrossMeasuresAndLanes) {
  Score s = Score::from_str("#000320: 13003300\n#001330: 23\n#002320: 1300\n#002350: 0023\n");
  ASSERT_EQ(s.notes.size(), 5u);
  EXPECT_EQ(s.notes[0].slide.next, 1u);
  EXPECT_EQ(s.notes[1].slide.next, 2u);
  EXPECT_EQ(s.notes[2].slide.next, kNoLink);
  EXPECT_EQ(s.notes[2].slide.head, 0u);
  EXPECT_EQ(s.notes[3].slide.head, 3u);
  EXPECT_EQ(s.notes[3].slide.next, 4u);
  EXPECT_EQ(s.notes[4].slide.head, 3u);
  // A step on a special lane is never a chain candidate.
  Score special = Score::from_str("#000320: 13\n#000300: 0033\n#001320: 23\n");
  ASSERT_EQ(special.notes.size(), 3u);
  EXPECT_EQ(special.notes[0].slide.next, 2u);
  EXPECT_EQ(special.active_notes, idx({0, 2}));
  ASSERT_EQ(special.events.size(), 1u);
  EXPECT_EQ(special.events[0].text, "SKILL");
}

TEST(ScoreLinking, MatchesReferenceOnGeneratedCharts) {
  for (unsigned seed : {1u, 2u, 3u}) {
    Score s = Score::from_str(corvane::generate_chart(200, seed));
    ASSERT_GT(s.notes.size(), 1000u);
    std::vector<NoteData> expected = s.notes;
    clear_links(expected);
    std::vector<std::size_t> expected_active;
    reference_link(expected, expected_active);
    EXPECT_EQ(s.active_notes, expected_active);
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const NoteData& a = s.notes[i];
      const NoteData& b = expected[i];
      ASSERT_EQ(a.kind, b.kind);
      ASSERT_EQ(a.directional.tap, b.directional.tap) << i;
      ASSERT_EQ(a.slide.tap, b.slide.tap) << i;
      ASSERT_EQ(a.slide.directional, b.slide.directional) << i;
      ASSERT_EQ(a.slide.next, b.slide.next) << i;
      ASSERT_EQ(a.slide.head, b.slide.head) << i;
    }
  }
}

// Small charts crowded onto two bars, a few lanes and widths: many notes
// share a place, so every absorption order and chain break is exercised.
TEST(ScoreLinking, MatchesReferenceOnCrowdedRandomCharts) {
  std::mt19937 rng(7);
  const char kinds[] = {'1', '5', '3', '9'};
  for (int round = 0; round < 3000; ++round) {
    std::string chart;
    const int lines = 1 + static_cast<int>(rng() % 8);
    for (int l = 0; l < lines; ++l) {
      const char kind = kinds[rng() % 4];
      const auto lane = static_cast<int>(rng() % 16);
      chart += "#00";
      chart += static_cast<char>('0' + rng() % 2);
      chart += kind;
      chart += static_cast<char>(lane < 10 ? '0' + lane : 'a' + lane - 10);
      if (kind == '3' || kind == '9') chart += static_cast<char>('0' + rng() % 2);
      chart += ": ";
      for (int c = 1 + static_cast<int>(rng() % 4); c > 0; --c) {
        chart += static_cast<char>('0' + rng() % 4);  // type 2 ends a slide
        chart += static_cast<char>('0' + rng() % 2);
      }
      chart += '\n';
    }
    Score s = Score::from_str(chart);
    std::vector<NoteData> expected = s.notes;
    clear_links(expected);
    std::vector<std::size_t> expected_active;
    reference_link(expected, expected_active);
    ASSERT_EQ(s.active_notes, expected_active) << chart;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const NoteData& a = s.notes[i];
      const NoteData& b = expected[i];
      ASSERT_EQ(a.directional.tap, b.directional.tap) << chart << i;
      ASSERT_EQ(a.slide.tap, b.slide.tap) << chart << i;
      ASSERT_EQ(a.slide.directional, b.slide.directional) << chart << i;
      ASSERT_EQ(a.slide.next, b.slide.next) << chart << i;
      ASSERT_EQ(a.slide.head, b.slide.head) << chart << i;
    }
  }
}

TEST(ScoreGenerated, DeterministicAndComplete) {
  std::string text = corvane::generate_chart(300, 11);
  EXPECT_EQ(text, corvane::generate_chart(300, 11));
  EXPECT_NE(text, corvane::generate_chart(300, 12));
  Score s = Score::from_str(text);
  EXPECT_EQ(s.meta.title, "Generated chart 11");
  EXPECT_EQ(s.meta.basebpm, 160.0);
  bool skill = false, chance = false, super = false, speed = false, bpm = false, length = false;
  for (const Event& e : s.events) {
    skill |= e.text == "SKILL";
    chance |= e.text == "FEVER CHANCE!";
    super |= e.text == "SUPER FEVER!!";
    speed |= e.speed.has_value();
    bpm |= e.bpm.has_value();
    length |= e.bar_length == Fraction(3);
  }
  EXPECT_TRUE(skill && chance && super && speed && bpm && length);
  std::size_t absorbed_in_slides = 0, chained = 0, decoration = 0;
  for (const NoteData& n : s.notes) {
    if (!n.is_slide()) continue;
    absorbed_in_slides += n.slide.tap != kNoLink;
    chained += n.slide.next != kNoLink;
    decoration += n.slide.decoration;
  }
  EXPECT_GT(absorbed_in_slides, 10u);
  EXPECT_GT(chained, 100u);
  EXPECT_GT(decoration, 50u);
  for (std::size_t i = 1; i < s.events.size(); ++i) EXPECT_LE(s.events[i - 1].bar, s.events[i].bar);
}

TEST(ScoreLines, InitByLinesResetsAndMatchesFromStr) {
  const std::string chart = "#TITLE X\r\n#BPM01: 120\n#00008: 01\n#00014: 12\n";
  Score s = Score::from_str("#TITLE Old\n#00015: 11\n#00002: 3\n");
  TimingTableAccess::table(s).emplace();
  std::vector<Line> lines = corvane::split_lines(chart);
  s.init_by_lines(lines);
  Score fresh = Score::from_str(chart);
  EXPECT_EQ(s.meta, fresh.meta);
  EXPECT_EQ(s.meta.title, "X");
  EXPECT_EQ(s.events, fresh.events);
  EXPECT_EQ(s.active_notes, fresh.active_notes);
  ASSERT_EQ(s.notes.size(), 1u);
  EXPECT_EQ(s.notes[0].base.lane, 4u);
  EXPECT_FALSE(s.timing_table());
}

TEST(ScoreErrors, CarryTheLineNumber) {
  auto [kind, msg] = error_of("#TITLE A\n\n#BPM01: 1/0\n");
  EXPECT_EQ(kind, ErrorKind::ZeroDivision);
  EXPECT_EQ(msg.rfind("line 3: ", 0), 0u) << msg;

  auto [kind2, msg2] = error_of("#REQUEST \"ticks_per_beat 0\"\r\n#TIL00: \"0'0:1.0\"\n");
  EXPECT_EQ(kind2, ErrorKind::ZeroDivision);
  EXPECT_EQ(msg2, "line 2: ticks per beat is 0 in hi-speed timeline");

  auto [kind3, msg3] = error_of("#00002: 4\n#BASEBPM 3/0\n");
  EXPECT_EQ(kind3, ErrorKind::ZeroDivision);
  EXPECT_EQ(msg3.rfind("line 2: ", 0), 0u) << msg3;

  auto [kind4, msg4] = error_of("#TITLE \"\n");
  EXPECT_EQ(kind4, ErrorKind::Value);
  EXPECT_EQ(msg4.rfind("line 1: ", 0), 0u) << msg4;

  // The vector form numbers its lines the same way.
  Score s;
  try {
    s.init_by_lines(corvane::split_lines("\n\n\n#BPM0a: 4/0\n"));
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()).rfind("line 4: ", 0), 0u) << e.what();
  }
}

TEST(ScoreErrors, ZeroTicksPerBeatWithoutEntriesIsFine) {
  Score s = Score::from_str("#REQUEST \"ticks_per_beat 0\"\n#TIL00: \"\"\n#TIL01: none\n#00002: 3\n");
  ASSERT_EQ(s.events.size(), 1u);
  EXPECT_EQ(s.events[0].bar_length, Fraction(3));
}

TEST(ScoreOpen, ReadsFilesAndReportsSystemErrors) {
  const std::string chart = "#TITLE \"T\"\n#00014: 12\n";
  TempFile good(chart);
  Score s = Score::open(good.path);
  EXPECT_EQ(s.meta.title, "T");
  EXPECT_EQ(s.active_notes.size(), 1u);

  try {
    Score::open("/nonexistent/dir/chart.sus");
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::Io);
    EXPECT_EQ(std::string(e.what()), std::system_category().message(ENOENT));
  }
  try {
    Score::open("/tmp");
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::Io);
    EXPECT_EQ(std::string(e.what()), std::system_category().message(EISDIR));
  }

  // A NUL inside the name must not open the file named by its prefix.
  EXPECT_THROW(Score::open(good.path + std::string("\0x", 2)), Error);

  TempFile bad(std::string("#TITLE \xff\xfe\n"));
  try {
    Score::open(bad.path);
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::Io);
    EXPECT_STREQ(e.what(), "stream did not contain valid UTF-8");
  }
}

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "error.hpp"
#include "meta.hpp"
#include "notes/event.hpp"

using corvane::Error;
using corvane::ErrorKind;
using corvane::Event;
using corvane::Fraction;
using corvane::Meta;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Event event_at(Fraction bar) {
  Event e;
  e.bar = bar;
  return e;
}

}  // namespace

TEST(MetaFields, HasFieldIsExactAndLowerCase) {
  for (const char* name : {"title", "subtitle", "artist", "genre", "designer", "difficulty", "playlevel", "songid",
                           "wave", "waveoffset", "jacket", "background", "movie", "movieoffset", "basebpm"})
    EXPECT_TRUE(Meta::has_field(name)) << name;
  for (const char* name : {"Title", "TITLE", "", "bpm", "title ", "request", "hispeed"})
    EXPECT_FALSE(Meta::has_field(name)) << name;
}

TEST(MetaFields, SetFieldNumbersGoThroughFractions) {
  Meta m;
  m.set_field("basebpm", "150");
  ASSERT_TRUE(m.basebpm);
  EXPECT_EQ(*m.basebpm, 150.0);
  m.set_field("basebpm", "1/3");
  EXPECT_EQ(*m.basebpm, 1.0 / 3.0);
  m.set_field("basebpm", "abc");  // unparsable keeps the old value
  EXPECT_EQ(*m.basebpm, 1.0 / 3.0);

  Meta fresh;
  fresh.set_field("movieoffset", "abc");
  EXPECT_FALSE(fresh.movieoffset);
  fresh.set_field("BASEBPM", "150");  // names are exact
  EXPECT_EQ(fresh, Meta{});
  fresh.set_field("movieoffset", "-0.5");
  EXPECT_EQ(*fresh.movieoffset, -0.5);
}

TEST(MetaFields, SetFieldZeroDenominatorIsTheFractionError) {
  Meta m;
  m.basebpm = 90.0;
  try {
    m.set_field("basebpm", "1/0");
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::ZeroDivision);
  }
  EXPECT_EQ(*m.basebpm, 90.0);
}

TEST(MetaFields, SetFieldTextsAreStoredVerbatim) {
  Meta m;
  m.set_field("waveoffset", "0.25");
  ASSERT_TRUE(m.waveoffset);
  EXPECT_EQ(*m.waveoffset, "0.25");
  m.set_field("title", "");
  ASSERT_TRUE(m.title);  // present empty text, not absent
  EXPECT_EQ(*m.title, "");
  m.set_field("title", "Song");
  EXPECT_EQ(*m.title, "Song");
  m.set_field("unknown", "x");
  Meta expected;
  expected.waveoffset = "0.25";
  expected.title = "Song";
  EXPECT_EQ(m, expected);
}

TEST(MetaMerge, ReceiverWinsWhereSet) {
  Meta a, b;
  a.title = "";
  b.title = "B";
  EXPECT_EQ(Meta::merge(a, b).title, "B");

  a.title = "A";
  EXPECT_EQ(Meta::merge(a, b).title, "A");
  b.title.reset();
  EXPECT_EQ(Meta::merge(a, b).title, "A");

  Meta none, empty;
  empty.artist = "";
  Meta merged = Meta::merge(none, empty);
  ASSERT_TRUE(merged.artist);  // other's present empty text is taken as it is
  EXPECT_EQ(*merged.artist, "");
  // A present empty receiver text loses even to an absent one.
  EXPECT_FALSE(Meta::merge(empty, none).artist);
}

TEST(MetaMerge, NumbersZeroCountsAsUnset) {
  Meta a, b;
  a.basebpm = 0.0;
  EXPECT_FALSE(Meta::merge(a, b).basebpm);
  b.basebpm = 0.0;
  EXPECT_EQ(Meta::merge(a, b).basebpm, 0.0);
  a.basebpm = 120.0;
  b.basebpm = 90.0;
  EXPECT_EQ(Meta::merge(a, b).basebpm, 120.0);
  a.movieoffset = kNaN;  // NaN is not 0.0: set
  b.movieoffset = 1.0;
  EXPECT_TRUE(std::isnan(*Meta::merge(a, b).movieoffset));
  a.movieoffset = -0.0;  // equal to 0.0: unset
  EXPECT_EQ(*Meta::merge(a, b).movieoffset, 1.0);
}

TEST(EventRecord, InitialState) {
  Event e = Event::initial_state();
  EXPECT_EQ(e.bar, Fraction(0));
  EXPECT_EQ(e.bpm, Fraction(120));
  EXPECT_EQ(e.bar_length, Fraction(4));
  EXPECT_EQ(e.sentence_length, 4);
  EXPECT_FALSE(e.speed);
  EXPECT_FALSE(e.section);
  EXPECT_FALSE(e.text);
}

TEST(EventMerge, ArgumentWinsWhereSet) {
  Event r = event_at(Fraction(1));
  r.bpm = Fraction(120);
  r.bar_length = Fraction(4);
  r.sentence_length = 4;
  r.speed = 1.5;
  r.section = "A";
  r.text = "t";

  Event o = event_at(Fraction(3, 2));
  Event m = Event::merge(r, o);  // other sets nothing but its bar
  EXPECT_EQ(m.bar, Fraction(3, 2));
  EXPECT_EQ(m.bpm, Fraction(120));
  EXPECT_EQ(m.bar_length, Fraction(4));
  EXPECT_EQ(m.sentence_length, 4);
  EXPECT_EQ(m.speed, 1.5);
  EXPECT_EQ(m.section, "A");
  EXPECT_EQ(m.text, "t");

  o.bpm = Fraction(0);
  o.bar_length = Fraction(0);
  o.sentence_length = 0;
  o.speed = 0.0;
  o.section = "";
  o.text = "";
  m = Event::merge(r, o);  // zeros and empty texts leave the state in force
  EXPECT_EQ(m.bpm, Fraction(120));
  EXPECT_EQ(m.bar_length, Fraction(4));
  EXPECT_EQ(m.sentence_length, 4);
  EXPECT_EQ(m.speed, 1.5);
  EXPECT_EQ(m.section, "A");
  EXPECT_EQ(m.text, "t");

  o.bpm = Fraction(90);
  o.bar_length = Fraction(-3);
  o.sentence_length = -1;
  o.speed = kNaN;
  o.section = "B";
  o.text = "u";
  m = Event::merge(r, o);
  EXPECT_EQ(m.bpm, Fraction(90));
  EXPECT_EQ(m.bar_length, Fraction(-3));
  EXPECT_EQ(m.sentence_length, -1);
  ASSERT_TRUE(m.speed);
  EXPECT_TRUE(std::isnan(*m.speed));
  EXPECT_EQ(m.section, "B");
  EXPECT_EQ(m.text, "u");

  // The receiver's empty section survives when other has none.
  Event empty_section = event_at(Fraction(0));
  empty_section.section = "";
  EXPECT_EQ(Event::merge(empty_section, event_at(Fraction(1))).section, "");
}

TEST(EventMerge, InPlaceFormMatchesMerge) {
  std::vector<Event> samples;
  Event full = Event::initial_state();
  full.speed = 2.0;
  full.section = "S";
  full.text = "T";
  samples.push_back(full);
  samples.push_back(event_at(Fraction(7, 3)));
  Event zeros = event_at(Fraction(2));
  zeros.bpm = Fraction(0);
  zeros.bar_length = Fraction(0);
  zeros.sentence_length = 0;
  zeros.speed = -0.0;
  zeros.section = "";
  zeros.text = "";
  samples.push_back(zeros);
  Event some = event_at(Fraction(5));
  some.bpm = Fraction(175, 2);
  some.text = "x";
  samples.push_back(some);

  for (const Event& a : samples) {
    for (const Event& b : samples) {
      Event in_place = a;
      in_place.merge_from(b);
      EXPECT_EQ(in_place, Event::merge(a, b));
    }
  }
}

TEST(EventEquality, FieldByField) {
  Event a = event_at(Fraction(1));
  Event b = a;
  EXPECT_EQ(a, b);

  a.speed = kNaN;
  b.speed = kNaN;
  EXPECT_NE(a, b);
  EXPECT_NE(a, a);  // a NaN speed equals nothing, not even itself

  a.speed = 0.0;
  b.speed = -0.0;
  EXPECT_EQ(a, b);

  b.speed.reset();
  EXPECT_NE(a, b);  // absent differs from present 0.0
  b.speed = 0.0;

  a.text = "";
  EXPECT_NE(a, b);  // present empty text differs from absent
  b.text = "";
  EXPECT_EQ(a, b);

  b.bpm = Fraction(120);
  EXPECT_NE(a, b);
  a.bpm = Fraction(240, 2);
  EXPECT_EQ(a, b);

  a.bar = Fraction(2);
  EXPECT_NE(a, b);
}

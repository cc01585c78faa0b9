// Timing table, bar-at-time walk and the incremental TimeWalk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "error.hpp"
#include "fraction.hpp"
#include "notes/event.hpp"
#include "score.hpp"
#include "support/chart_gen.hpp"

namespace corvane {
namespace {

Fraction F(std::int64_t n, std::int64_t d = 1) { return Fraction(n, d); }

Event at(Fraction bar) {
  Event e;
  e.bar = bar;
  return e;
}
Event bpm_at(Fraction bar, Fraction bpm) {
  Event e = at(bar);
  e.bpm = bpm;
  return e;
}
Event length_at(Fraction bar, Fraction length) {
  Event e = at(bar);
  e.bar_length = length;
  return e;
}
Event speed_at(Fraction bar, double speed) {
  Event e = at(bar);
  e.speed = speed;
  return e;
}
Event text_at(Fraction bar, std::string text) {
  Event e = at(bar);
  e.text = std::move(text);
  return e;
}

// Events kept in the given list order (no sorting), as a rebase target is.
Score score_of(std::vector<Event> events) {
  Score s;
  s.events = std::move(events);
  return s;
}

// The walk written out step by step, independently of TimeWalk: the first
// event starts at its bar at the initial tempo (0.0 when it lies at bar 0).
// `starts`, when given, receives every elapsed value the full walk computes.
// `bar` is the result computed in 64-bit fractions, absent where those
// overflow; `estimate` is the same formula in doubles.
struct Reference {
  std::optional<Fraction> bar;
  double estimate;
};

Reference reference_bar(const std::vector<Event>& events, double time,
                        std::vector<double>* starts = nullptr) {
  Event state = Event::initial_state();
  double start = 0.0;
  if (!events.empty()) {
    double elapsed = (F(2) * events[0].bar).to_double();
    for (std::size_t i = 0; i < events.size(); ++i) {
      start = elapsed;
      if (starts) starts->push_back(start);
      state = Event::merge(state, events[i]);
      if (i + 1 == events.size()) break;
      const Fraction seg = *state.bar_length * F(60) / *state.bpm * (events[i + 1].bar - state.bar);
      elapsed = start + seg.to_double();
      if (elapsed > time) break;
    }
  }
  const Fraction rate = *state.bpm / (*state.bar_length * F(60));
  Reference ref{std::nullopt, state.bar.to_double() + (time - start) * rate.to_double()};
  try {
    const Fraction q = Fraction::from_f64(time - start);
    ref.bar = (state.bar + q * rate).limit_denominator(1000000);
  } catch (const Error& e) {
    if (e.kind() != ErrorKind::Overflow) throw;
  }
  return ref;
}

double nan() { return std::numeric_limits<double>::quiet_NaN(); }

// --- Timing table -------------------------------------------------------------

TEST(TimingTable, NoEventsRunsAtInitialTempo) {
  Score s;
  EXPECT_FALSE(s.timed_events.has_value());
  auto [t1, state] = s.get_timed_event(F(1));
  EXPECT_EQ(t1, F(2));
  EXPECT_EQ(s.get_timed_event(F(3, 2)).first, F(3));
  EXPECT_EQ(s.get_timed_event(F(-1, 2)).first, F(-1));
  EXPECT_EQ(state.bar, F(0));
  EXPECT_EQ(state.bpm, F(120));
  EXPECT_EQ(state.bar_length, F(4));
  EXPECT_EQ(state.sentence_length, 4);
  EXPECT_FALSE(state.speed || state.section || state.text);
  ASSERT_TRUE(s.timed_events.has_value());
  EXPECT_EQ(s.timed_events->size(), 1u);
}

TEST(TimingTable, TempoChangeTakesEffectAtItsBar) {
  Score s = score_of({bpm_at(F(0), F(120)), bpm_at(F(2), F(240))});
  auto [t2, state2] = s.get_timed_event(F(2));
  EXPECT_EQ(t2, F(4));
  EXPECT_EQ(state2.bpm, F(240));
  EXPECT_EQ(s.get_timed_event(F(3)).first, F(5));
  EXPECT_EQ(s.get_timed_event(F(1)).second.bpm, F(120));
}

TEST(TimingTable, FirstEventAfterBarZeroExtrapolatesBackwards) {
  Score s = score_of({bpm_at(F(1), F(60))});
  EXPECT_EQ(s.get_timed_event(F(1)).first, F(2));  // initial tempo up to it
  EXPECT_EQ(s.get_timed_event(F(0)).first, F(-2));  // its own tempo backwards
  EXPECT_EQ(s.get_timed_event(F(0)).second.bar, F(1));
  EXPECT_EQ(s.get_timed_event(F(2)).first, F(6));
}

TEST(TimingTable, StateBetweenEventsIsTheEarlierOne) {
  Score s = score_of({text_at(F(0), "A"), bpm_at(F(1), F(60)), text_at(F(2), ""),
                      speed_at(F(3), 2.0)});
  const Event state = s.get_timed_event(F(5, 2)).second;
  EXPECT_EQ(state.bar, F(2));
  EXPECT_EQ(state.text, "A");  // the empty text leaves the last one in force
  EXPECT_EQ(state.bpm, F(60));
  EXPECT_FALSE(state.speed.has_value());
  EXPECT_EQ(s.get_timed_event(F(7, 2)).second.speed, 2.0);
}

TEST(TimingTable, EventsAtOneBarMergeAndShareATime) {
  Score s = score_of({bpm_at(F(0), F(120)), length_at(F(1), F(3)), bpm_at(F(1), F(90))});
  auto [t, state] = s.get_timed_event(F(1));
  EXPECT_EQ(t, F(2));
  EXPECT_EQ(state.bar_length, F(3));
  EXPECT_EQ(state.bpm, F(90));
  // 3 beats at 90 BPM: 2 seconds a bar.
  EXPECT_EQ(s.get_timed_event(F(3, 2)).first, F(3));
  ASSERT_EQ(s.timed_events->size(), 3u);
  EXPECT_EQ((*s.timed_events)[1].time, (*s.timed_events)[2].time);
}

TEST(TimingTable, ZeroTempoLeavesTheTempoInForce) {
  Score s = score_of({bpm_at(F(0), F(60)), bpm_at(F(1), F(0)), length_at(F(2), F(0))});
  EXPECT_EQ(s.get_timed_event(F(3)).first, F(12));
}

TEST(TimingTable, AllocationFreeFormsAgreeWithTheQuery) {
  Score s = score_of({bpm_at(F(0), F(150)), text_at(F(2), "X"), length_at(F(4), F(7, 2))});
  for (int k = -4; k < 40; ++k) {
    const Fraction bar = F(k, 3);
    auto [t, state] = s.get_timed_event(bar);
    EXPECT_EQ(s.time_at(bar), t);
    EXPECT_TRUE(s.state_at(bar) == state);
  }
}

TEST(TimeDelta, ZeroAndAntisymmetric) {
  Score s = score_of({bpm_at(F(0), F(150)), bpm_at(F(3, 2), F(175, 2)), length_at(F(5), F(3))});
  const Fraction bars[] = {F(0), F(1, 3), F(3, 2), F(17, 4), F(9), F(-2)};
  for (Fraction a : bars) {
    EXPECT_EQ(s.get_time_delta(a, a), F(0));
    EXPECT_EQ(s.get_time_delta_f64(a, a), 0.0);
    for (Fraction b : bars) {
      EXPECT_EQ(s.get_time_delta(a, b), F(0) - s.get_time_delta(b, a));
      EXPECT_EQ(s.get_time_delta(a, b), s.time_at(b) - s.time_at(a));
      // Times here have small denominators: both forms agree.
      EXPECT_EQ(s.get_time_delta_f64(a, b), s.get_time_delta(a, b).to_double());
    }
  }
}

TEST(TimeDelta, FloatFormBoundsBothTimesFirst) {
  Score s;
  const Fraction bar = F(1, 1000003);  // time 2/1000003: denominator past the bound
  const Fraction exact = s.get_time_delta(F(0), bar);
  EXPECT_EQ(exact, F(2, 1000003));
  const double f = s.get_time_delta_f64(F(0), bar);
  EXPECT_EQ(f, F(2, 1000003).limit_denominator(1000000).to_double());
  EXPECT_NE(f, exact.to_double());
}

// --- Bar at time ------------------------------------------------------------------

TEST(BarByTime, PartExamples) {
  EXPECT_EQ(Score().get_bar_by_time(3.0), F(3, 2));
  Score s = score_of({bpm_at(F(0), F(120)), bpm_at(F(2), F(240))});
  EXPECT_EQ(s.get_bar_by_time(5.0), F(3));
  EXPECT_EQ(s.get_bar_by_time(4.0), F(2));  // the later event governs at its own time
  EXPECT_EQ(s.get_bar_by_time(1.0), F(1, 2));
  EXPECT_FALSE(s.timed_events.has_value());  // never touches the table
}

TEST(BarByTime, NaNWalksToTheLastEvent) {
  EXPECT_EQ(Score().get_bar_by_time(nan()), F(0));
  Score s = score_of({bpm_at(F(0), F(120)), speed_at(F(3), 1.5), bpm_at(F(7, 2), F(200))});
  EXPECT_EQ(s.get_bar_by_time(nan()), F(7, 2));
}

TEST(BarByTime, NegativeTimesUseTheFirstMergedTempo) {
  EXPECT_EQ(Score().get_bar_by_time(-3.0), F(-3, 2));
  // Before time 0 the walk stops at the first entry, as the table's lookup
  // does: only the first event at bar 0 is merged there (3 beats at 120 BPM).
  Score s = score_of({length_at(F(0), F(3)), bpm_at(F(0), F(60)), bpm_at(F(2), F(240))});
  EXPECT_EQ(s.get_bar_by_time(-6.0), F(-4));
  EXPECT_EQ(s.get_timed_event(F(-4)).first, F(-6));
  EXPECT_EQ(s.get_bar_by_time(0.0), F(0));
  EXPECT_EQ(s.get_bar_by_time(3.0), F(1));  // from 0 on: 3 beats at 60 BPM
}

TEST(BarByTime, FirstEventAfterBarZeroInvertsTheTable) {
  Score speed = score_of({speed_at(F(2), 0.5)});
  EXPECT_EQ(speed.get_bar_by_time(4.0), F(2));
  EXPECT_EQ(speed.get_bar_by_time(5.0), F(5, 2));
  EXPECT_EQ(speed.get_bar_by_time(1.0), F(1, 2));
  EXPECT_EQ(speed.get_bar_by_time(0.0), F(0));

  Score slow = score_of({bpm_at(F(1), F(60))});
  EXPECT_EQ(slow.get_bar_by_time(2.0), F(1));
  EXPECT_EQ(slow.get_bar_by_time(-2.0), F(0));
  EXPECT_EQ(slow.get_bar_by_time(0.0), F(1, 2));
  EXPECT_EQ(slow.get_bar_by_time(6.0), F(2));
  for (int k = -8; k <= 16; ++k) {
    const Fraction bar = F(k, 4);
    EXPECT_EQ(slow.get_bar_by_time(slow.get_timed_event(bar).first.to_double()), bar) << k;
  }
}

// Round trips over many bars of charts with tempo and bar-length changes.
void expect_round_trip(Score& s, int from, int to, int per_bar) {
  for (int k = from * per_bar; k <= to * per_bar; ++k) {
    const Fraction bar = F(k, per_bar);
    const double t = s.get_timed_event(bar).first.to_double();
    ASSERT_EQ(s.get_bar_by_time(t), bar) << "bar " << k << "/" << per_bar << " at " << t;
  }
}

// Tempos such as 241/3 make the exact bar formula leave 64 bits on ordinary
// times (from_f64 of a time difference has a denominator near 10^14).
TEST(BarByTime, RoundTripsThroughTheTable) {
  std::vector<Event> events = {bpm_at(F(0), F(150)), length_at(F(0), F(3))};
  const Fraction tempos[] = {F(175, 2), F(200), F(96), F(160), F(241, 3)};
  const Fraction lengths[] = {F(4), F(7, 2), F(3), F(5)};
  for (int b = 3, i = 0; b < 300; b += 7, ++i) {
    events.push_back(bpm_at(F(b), tempos[i % 5]));
    if (i % 3 == 0) events.push_back(length_at(F(2 * b + 1, 2), lengths[i % 4]));
    if (i % 2 == 0) events.push_back(speed_at(F(4 * b + 1, 4), 0.5 + i));
  }
  std::stable_sort(events.begin(), events.end(),
                   [](const Event& a, const Event& b) { return a.bar < b.bar; });
  Score s = score_of(events);
  expect_round_trip(s, -3, 310, 8);

  // The same map behind a first event after bar 0.
  events.insert(events.begin(), speed_at(F(1, 2), 1.0));
  events[1].bar = F(1, 2);
  events[2].bar = F(1, 2);
  Score late = score_of(events);
  expect_round_trip(late, -3, 310, 6);
}

TEST(BarByTime, RoundTripsOnAGeneratedChart) {
  Score s = Score::from_str(generate_chart(120, 7));
  ASSERT_GT(s.events.size(), 10u);
  expect_round_trip(s, 0, 120, 16);
}

// --- TimeWalk -------------------------------------------------------------------

TEST(TimeWalk, EmptyWalkIsTheInitialTempo) {
  TimeWalk w;
  EXPECT_EQ(w.bar_at(3.0), F(3, 2));
  EXPECT_EQ(w.bar_at(nan()), F(0));
  w.push(bpm_at(F(0), F(60)));
  EXPECT_EQ(w.bar_at(4.0), F(1));
  w.clear();
  EXPECT_EQ(w.size(), 0u);
  EXPECT_EQ(w.bar_at(4.0), F(2));
  w.push(bpm_at(F(0), F(240)));  // the cleared walk forgot the old tempo
  w.push(speed_at(F(1), 2.0));
  EXPECT_EQ(w.bar_at(2.0), F(2));
}

TEST(TimeWalk, BarsGoingBackwards) {
  TimeWalk w;
  w.push(bpm_at(F(2), F(60)));  // starts at 4 s
  w.push(bpm_at(F(1), F(120)));  // 4 s a bar back to bar 1: starts at 0 s
  EXPECT_EQ(w.bar_at(1.0), F(3, 2));
  EXPECT_EQ(w.bar_at(0.0), F(1));
  EXPECT_EQ(w.bar_at(-1.0), F(3, 4));  // stops at the first event
  EXPECT_EQ(w.bar_at(nan()), F(1));
}

// Random event lists, bars in any order: after every push the walk answers
// exactly as the step-by-step walk and as Score::get_bar_by_time.
TEST(TimeWalk, IncrementalMatchesTheLinearWalk) {
  std::mt19937_64 rng(20240611);
  auto pick = [&rng](std::uint64_t n) { return static_cast<std::size_t>(rng() % n); };
  const std::optional<Fraction> tempos[] = {std::nullopt, F(0), F(60), F(90), F(120),
                                            F(150), F(175, 2), F(200), F(7)};
  const std::optional<Fraction> lengths[] = {std::nullopt, std::nullopt, F(0), F(3),
                                             F(4), F(7, 2), F(5)};
  const std::int64_t dens[] = {1, 2, 3, 4, 8, 12};

  int wide = 0;
  for (int round = 0; round < 60; ++round) {
    std::vector<Event> events;
    TimeWalk walk;
    const bool sorted = round % 3 == 0;
    Fraction last_bar = F(static_cast<std::int64_t>(pick(3)));
    const std::size_t count = 1 + pick(40);
    for (std::size_t n = 0; n < count; ++n) {
      Event e;
      if (sorted) {
        last_bar = last_bar + F(static_cast<std::int64_t>(pick(3)), dens[pick(6)]);
        e.bar = last_bar;
      } else {
        e.bar = F(static_cast<std::int64_t>(pick(60)) - 10, dens[pick(6)]);
      }
      e.bpm = tempos[pick(9)];
      e.bar_length = lengths[pick(7)];
      if (pick(4) == 0) e.speed = 0.25 * static_cast<double>(pick(8));
      if (pick(5) == 0) e.text = "SKILL";
      events.push_back(e);
      walk.push(e);
      ASSERT_EQ(walk.size(), events.size());

      std::vector<double> times = {nan(), 0.0, -0.0, -7.5, 1e3};
      reference_bar(events, nan(), &times);
      const std::size_t walked = times.size();
      for (std::size_t i = 5; i < walked; ++i) {
        times.push_back(std::nextafter(times[i], -INFINITY));
        times.push_back(std::nextafter(times[i], INFINITY));
      }
      for (int r = 0; r < 10; ++r) times.push_back(static_cast<double>(pick(4000)) / 16.0 - 40.0);

      const Score s = score_of(events);
      for (double t : times) {
        const Reference ref = reference_bar(events, t);
        const Fraction got = walk.bar_at(t);
        ASSERT_EQ(s.get_bar_by_time(t), got) << "round " << round << " n " << n << " t " << t;
        if (ref.bar) {
          ASSERT_EQ(got, *ref.bar) << "round " << round << " n " << n << " t " << t;
        } else {
          // 64-bit fractions overflow on the way; the bar is still the closest.
          ++wide;
          ASSERT_NEAR(got.to_double(), ref.estimate, 1e-6) << "round " << round << " t " << t;
        }
      }
    }
  }
  EXPECT_GT(wide, 0);  // the 128-bit path was exercised
}

}  // namespace
}  // namespace corvane

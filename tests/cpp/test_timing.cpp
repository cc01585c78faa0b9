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

#include "drawing/drawing.hpp"
#include "error.hpp"
#include "fraction.hpp"
#include "notes/event.hpp"
#include "rebase.hpp"
#include "score.hpp"
#include "support/chart_gen.hpp"
#include "support/events.hpp"
#include "support/timing_table_access.hpp"

namespace corvane {
namespace {

Fraction F(std::int64_t n, std::int64_t d = 1) { return Fraction(n, d); }

using testing::at;
using testing::bpm_at;
using testing::length_at;
using testing::speed_at;
using testing::text_at;

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
  EXPECT_FALSE(s.timing_table().has_value());
  auto [t1, state] = s.get_timed_event(F(1));
  EXPECT_EQ(t1, F(2));
  EXPECT_EQ(s.get_timed_event(F(3, 2)).first, F(3));
  EXPECT_EQ(s.get_timed_event(F(-1, 2)).first, F(-1));
  EXPECT_EQ(state.bar, F(0));
  EXPECT_EQ(state.bpm, F(120));
  EXPECT_EQ(state.bar_length, F(4));
  EXPECT_EQ(state.sentence_length, 4);
  EXPECT_FALSE(state.speed || state.section || state.text);
  ASSERT_TRUE(s.timing_table().has_value());
  EXPECT_EQ(s.timing_table()->size(), 1u);
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
  ASSERT_EQ(s.timing_table()->size(), 3u);
  EXPECT_EQ((*s.timing_table())[1].time, (*s.timing_table())[2].time);
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
  EXPECT_FALSE(s.timing_table().has_value());  // never touches the table
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

// --- Times whose exact value leaves 64 bits ------------------------------------
//
// An independent reference: exact values in __int128 with Euclid's gcd,
// reduced after every step, and the closest-fraction search written out from
// its definition. Absent where the reference itself would overflow.
using i128 = __int128;

struct Q {
  i128 n;
  i128 d;
};

i128 abs128(i128 v) { return v < 0 ? -v : v; }

std::optional<Q> q_make(i128 n, i128 d) {
  if (d < 0) {
    n = -n;
    d = -d;
  }
  i128 a = abs128(n), b = d;
  while (b != 0) {
    const i128 r = a % b;
    a = b;
    b = r;
  }
  if (n == 0) return Q{0, 1};
  return Q{n / a, d / a};
}

std::optional<Q> q_add(std::optional<Q> a, std::optional<Q> b) {
  i128 x, y, s, d;
  if (!a || !b || __builtin_mul_overflow(a->n, b->d, &x) ||
      __builtin_mul_overflow(b->n, a->d, &y) || __builtin_add_overflow(x, y, &s) ||
      __builtin_mul_overflow(a->d, b->d, &d)) {
    return std::nullopt;
  }
  return q_make(s, d);
}

std::optional<Q> q_mul(std::optional<Q> a, std::optional<Q> b) {
  i128 n, d;
  if (!a || !b || __builtin_mul_overflow(a->n, b->n, &n) ||
      __builtin_mul_overflow(a->d, b->d, &d)) {
    return std::nullopt;
  }
  return q_make(n, d);
}

std::optional<Q> q_of(Fraction f) { return Q{f.numerator(), f.denominator()}; }
std::optional<Q> q_neg(std::optional<Q> a) {
  if (a) a->n = -a->n;
  return a;
}
std::optional<Q> q_inv(std::optional<Q> a) {
  if (!a) return a;
  return q_make(a->d, a->n);
}

i128 floor_div(i128 a, i128 b) {
  i128 q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

// Convergents until the next denominator passes the bound, then the last
// convergent or the best semiconvergent, whichever is nearer as a double
// (a tie to the convergent).
std::optional<Fraction> q_bounded(std::optional<Q> v, i128 bound) {
  if (!v) return std::nullopt;
  Q r = *v;
  if (r.d > bound) {
    i128 p0 = 0, q0 = 1, p1 = 1, q1 = 0, n = v->n, d = v->d;
    for (;;) {
      const i128 a = floor_div(n, d);
      const i128 q2 = q0 + a * q1;
      if (q2 > bound) break;
      const i128 p2 = p0 + a * p1;
      p0 = p1, q0 = q1, p1 = p2, q1 = q2;
      const i128 rest = n - a * d;
      n = d;
      d = rest;
      if (d == 0) break;
    }
    const i128 k = (bound - q0) / q1;
    const Q semi = *q_make(p0 + k * p1, q0 + k * q1);
    const Q conv = *q_make(p1, q1);
    const double x = static_cast<double>(v->n) / static_cast<double>(v->d);
    const double e_semi = std::fabs(static_cast<double>(semi.n) / static_cast<double>(semi.d) - x);
    const double e_conv = std::fabs(static_cast<double>(conv.n) / static_cast<double>(conv.d) - x);
    r = e_conv <= e_semi ? conv : semi;
  }
  constexpr i128 lo = std::numeric_limits<std::int64_t>::min();
  constexpr i128 hi = std::numeric_limits<std::int64_t>::max();
  if (r.n < lo || r.n > hi || r.d > hi) return std::nullopt;
  return F(static_cast<std::int64_t>(r.n), static_cast<std::int64_t>(r.d));
}

// bound(t + L x 60 / B x (to - from), 10^9) by the reference.
std::optional<Fraction> ref_time(Fraction t, Fraction length, Fraction bpm, Fraction from,
                                 Fraction to) {
  const auto per_bar = q_mul(q_mul(q_of(length), q_of(F(60))), q_inv(q_of(bpm)));
  return q_bounded(q_add(q_of(t), q_mul(per_bar, q_add(q_of(to), q_neg(q_of(from))))),
                   1000000000);
}

// The same formula in 64-bit Fraction operations; absent where they overflow.
std::optional<Fraction> narrow_time(Fraction t, Fraction length, Fraction bpm, Fraction from,
                                    Fraction to) {
  try {
    return (t + length * F(60) / bpm * (to - from)).limit_denominator(1000000000);
  } catch (const Error& e) {
    if (e.kind() != ErrorKind::Overflow) throw;
    return std::nullopt;
  }
}

Event tempo_at(Fraction bar, Fraction bpm, Fraction length) {
  Event e = bpm_at(bar, bpm);
  e.bar_length = length;
  return e;
}

// A score whose table is the single entry (t, state at bar b).
Score with_entry(Fraction t, Fraction b, Fraction bpm, Fraction length) {
  Score s;
  Event state = Event::merge(Event::initial_state(), tempo_at(b, bpm, length));
  TimingTableAccess::table(s) = std::vector<TimedEvent>{TimedEvent{t, state}};
  return s;
}

// The table rebuilt by the reference, entry by entry.
std::vector<Fraction> ref_table(const std::vector<Event>& events) {
  std::vector<Fraction> times;
  Event state = Event::initial_state();
  Fraction t, prev;
  for (const Event& e : events) {
    const std::optional<Fraction> next = ref_time(t, *state.bar_length, *state.bpm, prev, e.bar);
    EXPECT_TRUE(next.has_value());
    t = next.value_or(F(0));
    state = Event::merge(state, e);
    prev = e.bar;
    times.push_back(t);
  }
  return times;
}

// The reported case: an ordinary chart retimed by an ordinary rebase, whose
// 90.5 BPM (per bar 7/2 x 60 / (181/2) = 420/181 s) meets running times with
// denominators near 10^9 and retimed bars with denominators near 10^6.
TEST(WideTime, RebasedChartRenders) {
  Score chart = Score::from_str(generate_chart(22, 41));
  const Rebase rebase = Rebase::from_json(
      R"({"events":[{"bar":5.25,"barLength":3.5},{"bar":13.87890625,"bpm":90.5,"text":""},)"
      R"({"bar":8.375,"bpm":60,"sentenceLength":0,"text":""}]})");
  Score s = rebase.apply(chart);

  const std::vector<Fraction> want = ref_table(s.events);
  s.time_at(F(0));
  ASSERT_EQ(s.timing_table()->size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ((*s.timing_table())[i].time, want[i]) << i;

  int wide = 0;
  const std::vector<TimedEvent>& table = *s.timing_table();
  for (const NoteData& note : s.notes) {
    const Fraction bar = note.base.bar;
    std::size_t i = 0;  // the last entry at or before the bar, by a plain scan
    while (i + 1 < table.size() && table[i + 1].state.bar <= bar) ++i;
    const TimedEvent& entry = table[i];
    const auto [t, state] = s.get_timed_event(bar);
    ASSERT_EQ(state.bar, entry.state.bar);
    const Fraction L = *state.bar_length, B = *state.bpm;
    ASSERT_EQ(t, ref_time(entry.time, L, B, state.bar, bar)) << bar.fmt();
    if (const auto n64 = narrow_time(entry.time, L, B, state.bar, bar)) {
      ASSERT_EQ(t, *n64);
    } else {
      ++wide;
    }
  }
  EXPECT_GT(wide, 0);  // the notes that used to fail

  const std::string svg = Drawing().svg(s, nullptr);
  EXPECT_TRUE(svg.starts_with("<svg"));
}

TEST(WideTime, TimeNearTheBoundPlusAnAwkwardStep) {
  // Denominators near 10^9 in the time, 362 and 181 x 7 in the seconds per
  // bar, and bars bounded to 10^6 as a rebase leaves them.
  const Fraction t = F(35'232'631'864, 999'999'937);
  const Fraction b = F(3553, 256);
  struct Case {
    Fraction bpm, length;
  };
  const Case cases[] = {{F(181, 2), F(7, 2)},      // 420/181 s a bar
                        {F(362), F(4)},            // 240/362 = 120/181
                        {F(1267, 10), F(4)},       // 2400/1267, 1267 = 181 x 7
                        {F(181, 7), F(1, 2)}};     // 210/181
  const Fraction bars[] = {F(14'004'628, 999'983), F(9'000'001, 645'959), F(22'000'007, 999'999),
                           F(-3, 999'961), b};
  for (const Case& c : cases) {
    Score s = with_entry(t, b, c.bpm, c.length);
    for (Fraction bar : bars) {
      const Fraction got = s.time_at(bar);
      EXPECT_EQ(got, ref_time(t, c.length, c.bpm, b, bar)) << bar.fmt() << " " << c.bpm.fmt();
      EXPECT_LE(got.denominator(), 1000000000);
    }
  }
  // The 64-bit formula does overflow on these: the wide path is what runs.
  EXPECT_FALSE(narrow_time(t, F(7, 2), F(181, 2), b, bars[0]).has_value());
  EXPECT_FALSE(narrow_time(t, F(4), F(1267, 10), b, bars[1]).has_value());
  // The table takes the same route for its running time.
  // (The first text's exact time has denominator 1267 x 999983 and is bounded.)
  Score table = score_of({tempo_at(F(0), F(1267, 10), F(4)), text_at(F(14'004'628, 999'983), "A"),
                          text_at(F(22'000'007, 999'999), "B")});
  const std::vector<Fraction> want = ref_table(table.events);
  EXPECT_GT(want[1].denominator(), 100'000'000);
  EXPECT_FALSE(narrow_time(want[1], F(4), F(1267, 10), table.events[1].bar, table.events[2].bar));
  table.time_at(F(0));
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ((*table.timing_table())[i].time, want[i]) << i;
  }
}

TEST(WideTime, UnrepresentableTimeIsStillAnOverflow) {
  // 240000 s a bar: bar 10^14 + 1/3 lies past 2^63 seconds.
  Score s = score_of({tempo_at(F(0), F(1, 1000), F(4))});
  EXPECT_EQ(s.time_at(F(7, 3)), F(560000));
  try {
    s.time_at(F(300'000'000'000'001, 3));
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::Overflow);
  }
}

TEST(WideTime, FloatDeltaOfLargeTimes) {
  // Times of some 2.4 x 10^7 s with denominators near 10^6: their exact
  // difference needs more than 64 bits; the double does not.
  Score s = score_of({tempo_at(F(0), F(1, 1000), F(4))});
  const Fraction a = F(100'998'282, 999'983);  // 101 - 1/999983
  const Fraction c = F(1, 999'979);
  const Fraction ta = s.time_at(a).limit_denominator(1000000);
  const Fraction tc = s.time_at(c).limit_denominator(1000000);
  const Q d = *q_add(q_of(ta), q_neg(q_of(tc)));
  EXPECT_EQ(s.get_time_delta_f64(c, a), static_cast<double>(d.n) / static_cast<double>(d.d));
  EXPECT_NEAR(s.get_time_delta_f64(c, a), 24240000.0 - 240000.0 / 999983 - 240000.0 / 999979, 1e-6);
  // The exact difference is unbounded and says so when it does not fit.
  EXPECT_THROW(s.get_time_delta(c, a), Error);
}

TEST(WideTime, HugeBarLengthInTheWalk) {
  // bar_length x 60 leaves 64 bits although the rate bpm / (bar_length x 60)
  // and every segment fit.
  const Fraction huge = F(461'168'601'842'738'790);
  Score s = score_of({tempo_at(F(0), F(120), huge), speed_at(F(1), 2.0)});
  EXPECT_EQ(s.get_bar_by_time(1e18),
            (F(1'000'000'000'000'000'000) * F(2) / huge).limit_denominator(1000000));
  EXPECT_EQ(s.time_at(F(1, 2)), huge / F(4));
  EXPECT_EQ(s.get_bar_by_time((huge / F(2)).to_double()), F(1));
}

// Random tables and bars, with tempos from ordinary decimals, against the
// reference; wherever the 64-bit formula succeeds the result is bit-identical
// to it.
TEST(WideTime, RandomAgainstTheReference) {
  std::mt19937_64 rng(77031);
  auto pick = [&rng](std::int64_t lo, std::int64_t hi) {
    return lo + static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(hi - lo + 1));
  };
  const double bpms[] = {90.5, 120, 126.7, 174.3, 60.25, 181, 97.77, 88.8};
  const double lengths[] = {4, 3.5, 3, 2.75, 0.5, 7};
  int wide = 0, narrow = 0;
  for (int round = 0; round < 4000; ++round) {
    const Fraction bpm = Fraction::from_f64(bpms[pick(0, 7)]);
    const Fraction length = Fraction::from_f64(lengths[pick(0, 5)]);
    const Fraction b = F(pick(0, 400'000'000), pick(1, 1'000'000));
    // Running times near the table's bound, or short ones.
    const Fraction t = round % 2 == 0 ? F(pick(-10'000'000'000, 400'000'000'000),
                                          pick(900'000'000, 1'000'000'000))
                                      : F(pick(0, 4000), pick(1, 64));
    Score s = with_entry(t, b, bpm, length);
    for (int k = 0; k < 8; ++k) {
      const Fraction bar = b + F(pick(-2'000'000, 50'000'000), pick(1, 1'000'000));
      const std::optional<Fraction> want = ref_time(t, length, bpm, b, bar);
      ASSERT_TRUE(want.has_value());
      ASSERT_EQ(s.time_at(bar), *want) << t.fmt() << " " << b.fmt() << " " << bar.fmt();
      if (const auto n64 = narrow_time(t, length, bpm, b, bar)) {
        ++narrow;
        ASSERT_EQ(*n64, *want);
      } else {
        ++wide;
      }
    }
  }
  EXPECT_GT(wide, 1000);
  EXPECT_GT(narrow, 1000);
}

// The bar at a time, b + from_f64(dt) x bpm / (bar_length x 60) bounded to
// 10^6, against the reference: exact wherever the 64-bit form overflows too.
TEST(WideTime, BarAtTimeAgainstTheReference) {
  std::mt19937_64 rng(50411);
  auto pick = [&rng](std::int64_t lo, std::int64_t hi) {
    return lo + static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(hi - lo + 1));
  };
  const double bpms[] = {90.5, 120, 126.7, 174.3, 60.25, 181, 97.77, 241.0 / 3};
  const double lengths[] = {4, 3.5, 3, 2.75, 0.5, 7};
  int wide = 0, narrow = 0;
  for (int round = 0; round < 3000; ++round) {
    const Fraction bpm = Fraction::from_f64(bpms[pick(0, 7)]);
    const Fraction length = Fraction::from_f64(lengths[pick(0, 5)]);
    // The one event: the walk reaches it at 2 s a bar and stays there.
    const Fraction b = F(pick(-4'000'000, 400'000'000), pick(1, 1'000'000));
    const Score s = score_of({tempo_at(b, bpm, length)});
    const double start = (F(2) * b).to_double();
    const auto rate = q_mul(q_of(bpm), q_inv(q_mul(q_of(length), q_of(F(60)))));
    for (int k = 0; k < 6; ++k) {
      const double time = start + static_cast<double>(pick(-1'000'000, 100'000'000)) / 997.0;
      const Fraction q = Fraction::from_f64(time - start);
      const std::optional<Fraction> want = q_bounded(q_add(q_of(b), q_mul(q_of(q), rate)), 1000000);
      ASSERT_TRUE(want.has_value());
      ASSERT_EQ(s.get_bar_by_time(time), *want) << b.fmt() << " " << bpm.fmt() << " " << time;
      try {
        ASSERT_EQ((b + q * (bpm / (length * F(60)))).limit_denominator(1000000), *want);
        ++narrow;
      } catch (const Error& e) {
        ASSERT_EQ(e.kind(), ErrorKind::Overflow);
        ++wide;
      }
    }
  }
  EXPECT_GT(wide, 500);
  EXPECT_GT(narrow, 500);
}

}  // namespace
}  // namespace corvane

// Timing queries of a Score: the exact timing table (bar -> seconds) and the
// floating-point walk (seconds -> bar) shared with the rebase through TimeWalk.
#include <algorithm>
#include <cstdint>
#include <cstddef>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "error.hpp"
#include "fraction_wide.hpp"
#include "score.hpp"

namespace corvane {

namespace {

// Times kept in the table are bounded so that sums over long charts stay
// within 64 bits; bars found from a time, and the times behind a float
// difference, use the coarser bound.
constexpr std::int64_t kTableBound = 1000000000;
constexpr std::int64_t kBarBound = 1000000;

// Every state reached by merging keeps bpm and bar_length present (merging
// never clears them and initial_state sets both), so these are never empty.
const Fraction& bpm_of(const Event& state) { return *state.bpm; }
const Fraction& bar_length_of(const Event& state) { return *state.bar_length; }

using Wide = fraction_detail::i128;
using fraction_detail::Ratio;
using fraction_detail::ratio_of;

// --- Time of a bar ------------------------------------------------------------------
//
// A time is t + L x 60 / B x (bar - b), bounded to denominator 1000000000,
// both in the table (the running time plus the next step) and for a queried
// bar. The exact value's denominator is the product of the time's (up to
// 10^9), the tempo's and the bars', so after a rebase (bars bounded to 10^6,
// tempos such as 181/2) it can leave 64 bits although the bounded time is
// small. It is formed at 64 bits, checked, and only when that fails again at
// 128 bits, bounded there by the same closest-fraction search: both paths
// give the same result wherever the 64-bit one succeeds.

[[noreturn]] void time_overflow() {
  throw Error(ErrorKind::Overflow, "time of bar does not fit in a 64-bit fraction");
}

// t + length x 60 / bpm x (to - from), exact at the width Int; false when
// that width does not hold it.
template <class Int>
bool time_after(Fraction t, Fraction length, Fraction bpm, Fraction from, Fraction to,
                Ratio<Int>& out) noexcept {
  using namespace fraction_detail;
  Ratio<Int> per_bar, span, step;
  return ratio_mul(ratio_of<Int>(length), Ratio<Int>{60, 1}, per_bar) &&
         ratio_div(per_bar, ratio_of<Int>(bpm), per_bar) &&
         ratio_sub(ratio_of<Int>(to), ratio_of<Int>(from), span) &&
         ratio_mul(per_bar, span, step) && ratio_add(ratio_of<Int>(t), step, out);
}

Fraction bounded_time(Fraction t, Fraction length, Fraction bpm, Fraction from, Fraction to) {
  // Every convergent of a 64-bit value fits 64 bits: that search never fails.
  std::int64_t n, d;
  if (Ratio<std::int64_t> exact;
      time_after(t, length, bpm, from, to, exact) &&
      fraction_detail::closest_fraction(exact.n, exact.d, kTableBound, n, d)) {
    return Fraction(n, d);
  }
  Ratio<Wide> exact, bounded;
  Ratio<std::int64_t> fields;
  if (!time_after(t, length, bpm, from, to, exact) ||
      !fraction_detail::closest_fraction<Wide>(exact.n, exact.d, kTableBound, bounded.n,
                                               bounded.d) ||
      !fraction_detail::narrow(bounded, fields)) {
    time_overflow();
  }
  return Fraction(fields.n, fields.d);
}

// Time of `bar` from the table entry that governs it, continuing that entry's
// tempo forwards or backwards.
Fraction time_from(const TimedEvent& entry, Fraction bar) {
  return bounded_time(entry.time, bar_length_of(entry.state), bpm_of(entry.state),
                      entry.state.bar, bar);
}

// Seconds from `from` to `to` at one tempo, as a double (numerator over
// denominator of the exact value), for the floating-point walk.
double segment_seconds(Fraction length, Fraction bpm, Fraction from, Fraction to) {
  if (Ratio<std::int64_t> exact; time_after(Fraction(0), length, bpm, from, to, exact)) {
    return fraction_detail::ratio_to_double(exact);
  }
  Ratio<Wide> exact;
  if (!time_after(Fraction(0), length, bpm, from, to, exact)) {
    throw Error(ErrorKind::Overflow, "time between events does not fit in a 128-bit fraction");
  }
  return fraction_detail::ratio_to_double(exact);
}

// --- Bar from a walked time -----------------------------------------------------
//
// The bar at a time is state.bar + from_f64(dt) x bpm / (bar_length x 60),
// bounded to denominator 1000000. from_f64 of an ordinary time difference
// often has a denominator near 10^14 (the double is not a short decimal), so
// the product with a tempo such as 161/2 and the sum with the state's bar can
// leave 64 bits although the bounded result is small. The exact value is
// therefore formed in 128 bits; when it fits in 64 bits it is bounded by
// Fraction::limit_denominator itself, otherwise by the same closest-fraction
// search carried out in 128 bits.

[[noreturn]] void bar_overflow() {
  throw Error(ErrorKind::Overflow, "bar at time does not fit in a 64-bit fraction");
}

// Fields a bar found from a time may take: the most negative numerator
// counts as out of range on both paths below.
bool fits64(Ratio<Wide> r) {
  constexpr Wide lo = std::numeric_limits<std::int64_t>::min();
  constexpr Wide hi = std::numeric_limits<std::int64_t>::max();
  return r.n > lo && r.n <= hi && r.d <= hi;
}

// The exact bar, bounded.
Fraction bounded_bar(Ratio<Wide> bar) {
  if (fits64(bar)) {
    return Fraction(static_cast<std::int64_t>(bar.n), static_cast<std::int64_t>(bar.d))
        .limit_denominator(kBarBound);
  }
  Ratio<Wide> bounded;
  if (!fraction_detail::closest_fraction<Wide>(bar.n, bar.d, kBarBound, bounded.n, bounded.d) ||
      !fits64(bounded)) {
    bar_overflow();
  }
  return Fraction(static_cast<std::int64_t>(bounded.n), static_cast<std::int64_t>(bounded.d));
}

Fraction bar_after(Fraction bar, Fraction bpm, Fraction bar_length, double dt) {
  using namespace fraction_detail;
  const Fraction q = Fraction::from_f64(dt);
  if (q.is_zero()) return bar.limit_denominator(kBarBound);
  // The rate bpm / (bar_length x 60) at 64 bits where it fits, which is
  // nearly always, else at 128; the step q x rate and the sum in 128 bits.
  Ratio<Wide> rate;
  if (Ratio<std::int64_t> scale, narrow_rate;
      ratio_mul(ratio_of<std::int64_t>(bar_length), Ratio<std::int64_t>{60, 1}, scale) &&
      ratio_div(ratio_of<std::int64_t>(bpm), scale, narrow_rate)) {
    rate = {narrow_rate.n, narrow_rate.d};
  } else if (Ratio<Wide> scale;
             !ratio_mul(ratio_of<Wide>(bar_length), Ratio<Wide>{60, 1}, scale) ||
             !ratio_div(ratio_of<Wide>(bpm), scale, rate)) {
    bar_overflow();
  }
  Ratio<Wide> step, sum;
  if (!ratio_mul(ratio_of<Wide>(q), rate, step) || !ratio_add(ratio_of<Wide>(bar), step, sum)) {
    bar_overflow();
  }
  return bounded_bar(sum);
}

// The timing table of a score's events, built on the first query. Out of line,
// so that the check before it inlines into every query.
[[gnu::noinline]] void build_table(const std::vector<Event>& events,
                                   std::optional<std::vector<TimedEvent>>& out) {
  std::vector<TimedEvent> table;
  table.reserve(events.empty() ? 1 : events.size());
  Event state = Event::initial_state();
  if (events.empty()) {
    table.push_back(TimedEvent{Fraction(0), std::move(state)});
  } else {
    Fraction time;
    Fraction prev;
    for (const Event& e : events) {
      // Bounded after every step: the rounding carries into later entries.
      time = bounded_time(time, bar_length_of(state), bpm_of(state), prev, e.bar);
      state.merge_from(e);
      prev = e.bar;
      table.push_back(TimedEvent{time, state});
    }
  }
  // Stored only when whole: a time that overflows leaves no table behind.
  out.emplace(std::move(table));
}

}  // namespace

// --- TimeWalk -----------------------------------------------------------------

void TimeWalk::push(const Event& e) {
  // The entry before the first event is the initial state at bar 0, time 0.0,
  // so the first event starts at its bar at the initial tempo, exactly where
  // the timing table puts it; at bar 0 that adds nothing.
  Fraction prev_bar;
  Fraction prev_bpm;
  Fraction prev_length;
  double prev_start = 0.0;
  if (entries_.empty()) {
    prev_bar = state_.bar;
    prev_bpm = bpm_of(state_);
    prev_length = bar_length_of(state_);
  } else {
    const Entry& prev = entries_.back();
    prev_bar = prev.bar;
    prev_bpm = prev.bpm;
    prev_length = prev.bar_length;
    prev_start = prev.start;
  }
  const double start = prev_start + segment_seconds(prev_length, prev_bpm, prev_bar, e.bar);

  state_.merge_from(e);

  // The first entry's start never stops the walk: it is the origin.
  double reach = -std::numeric_limits<double>::infinity();
  if (!entries_.empty()) {
    const double before = entries_.back().reach;
    reach = start > before ? start : before;  // a NaN start never stops the walk
  }
  entries_.push_back(Entry{state_.bar, bpm_of(state_), bar_length_of(state_), start, reach});
}

void TimeWalk::clear() {
  entries_.clear();
  state_ = Event::initial_state();
}

bool TimeWalk::settled(double time) const noexcept {
  return !entries_.empty() && entries_.back().reach > time;
}

Fraction TimeWalk::bar_at(double time) const {
  Fraction bar;
  Fraction bpm;
  Fraction length;
  double start = 0.0;
  if (entries_.empty()) {
    const Event initial = Event::initial_state();
    bar = initial.bar;
    bpm = bpm_of(initial);
    length = bar_length_of(initial);
  } else {
    // The walk stops at the first event whose successor starts strictly after
    // `time`, else at the last event. `reach` is a running maximum, so the
    // first such successor is a partition point even when bars go backwards.
    const auto first_after = std::partition_point(
        entries_.begin() + 1, entries_.end(),
        [time](const Entry& entry) { return !(entry.reach > time); });
    const Entry& governing = *(first_after - 1);
    bar = governing.bar;
    bpm = governing.bpm;
    length = governing.bar_length;
    start = governing.start;
  }
  return bar_after(bar, bpm, length, time - start);
}

// --- Score ----------------------------------------------------------------------

const std::vector<TimedEvent>& Score::table() const {
  if (!timed_events_) build_table(events, timed_events_);
  return *timed_events_;
}

std::size_t Score::governing_index(Fraction bar) const {
  const std::vector<TimedEvent>& table = this->table();
  // entry bar <= bar by cross-multiplication: denominators are positive and each
  // product of two 64-bit values fits 128 bits, so this is exact, and on the
  // renderer's path cheaper than the general comparison's Euclid steps.
  const Wide bar_n = bar.numerator();
  const Wide bar_d = bar.denominator();
  const auto end = std::partition_point(table.begin(), table.end(), [&](const TimedEvent& te) {
    return te.state.bar.numerator() * bar_d <= bar_n * te.state.bar.denominator();
  });
  const auto count = static_cast<std::size_t>(end - table.begin());
  return count == 0 ? 0 : count - 1;
}

Fraction Score::time_at(Fraction bar) const {
  return time_from(table()[governing_index(bar)], bar);
}

const Event& Score::state_at(Fraction bar) const {
  return table()[governing_index(bar)].state;
}

std::pair<Fraction, Event> Score::get_timed_event(Fraction bar) const {
  const TimedEvent& entry = table()[governing_index(bar)];
  return {time_from(entry, bar), entry.state};
}

Fraction Score::get_time_delta(Fraction bar_from, Fraction bar_to) const {
  const Fraction to = time_at(bar_to);
  const Fraction from = time_at(bar_from);
  // Unbounded: for large times the exact difference may not fit, and says so.
  return to - from;
}

double Score::get_time_delta_f64(Fraction bar_from, Fraction bar_to) const {
  const Fraction to = time_at(bar_to).limit_denominator(kBarBound);
  const Fraction from = time_at(bar_from).limit_denominator(kBarBound);
  // Over denominators of at most 10^6 the difference of two large times can
  // still leave 64 bits; it always fits 128.
  if (Ratio<std::int64_t> d; fraction_detail::ratio_sub(ratio_of<std::int64_t>(to),
                                                        ratio_of<std::int64_t>(from), d)) {
    return fraction_detail::ratio_to_double(d);
  }
  Ratio<Wide> d;
  fraction_detail::ratio_sub(ratio_of<Wide>(to), ratio_of<Wide>(from), d);
  return fraction_detail::ratio_to_double(d);
}

Fraction Score::get_bar_by_time(double time) const {
  // The same walk the rebase keeps incrementally; stop pushing events once
  // later ones can no longer change the answer.
  TimeWalk walk;
  walk.entries_.reserve(events.size());
  for (const Event& e : events) {
    walk.push(e);
    if (walk.settled(time)) break;
  }
  return walk.bar_at(time);
}

}  // namespace corvane

#pragma once
// A parsed chart: metadata, linked notes, events and the timing table.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fraction.hpp"
#include "line.hpp"
#include "meta.hpp"
#include "notes/event.hpp"
#include "notes/note.hpp"

namespace corvane {

struct TimedEvent {
  Fraction time;  // seconds, denominator <= 1000000000
  Event state;    // cumulative state; bar = the event's bar
};

// The floating-point walk behind Score::get_bar_by_time, kept as prefix data
// so that a caller adding events one at a time (the rebase retimes each note
// against a growing event list) answers every lookup in O(log n) instead of
// walking the whole list again. Events are taken in list order, which need
// not be bar order.
class TimeWalk {
 public:
  // Appends one event to the walked list (amortised O(1)).
  void push(const Event& e);
  void clear();
  std::size_t size() const noexcept { return entries_.size(); }
  // The bar at `time` seconds, denominator <= 1000000. The first event sits at
  // the time the timing table gives it (its bar at the initial tempo), so this
  // inverts Score::get_timed_event also when that event lies after bar 0.
  Fraction bar_at(double time) const;

 private:
  friend class Score;
  // True once the answer for `time` no longer depends on events pushed later.
  bool settled(double time) const noexcept;

  struct Entry {
    Fraction bar;         // bar of the state merged through this event
    Fraction bpm;         // its tempo and bar length
    Fraction bar_length;
    double start;         // walk time at which this event takes over
    double reach;         // max of `start` over entries 1..this (NaN skipped)
  };
  std::vector<Entry> entries_;
  Event state_ = Event::initial_state();
};

class Score {
 public:
  Meta meta;
  std::vector<NoteData> notes;
  std::vector<std::size_t> active_notes;
  std::vector<Event> events;

  // Chart text in; throws Error for the inputs without a sound result, with
  // the 1-based line number in the message.
  static Score from_str(std::string_view content);
  // Whole file as UTF-8; unreadable or invalid UTF-8 throws Error(ErrorKind::Io)
  // whose message is the system's description.
  static Score open(const std::string& path);

  void init_by_lines(const std::vector<Line>& lines);
  void init_notes();
  void init_events();

  // --- timing queries -------------------------------------------------------
  // They read the score only; the timing table behind them is a private
  // cache built on the first query and dropped by init_events. Filling it is
  // not synchronised: one score is queried by one thread at a time (the
  // Python layer's borrow flag sees to that).
  // (time of bar, copy of the governing state).
  std::pair<Fraction, Event> get_timed_event(Fraction bar) const;
  Fraction get_time_delta(Fraction bar_from, Fraction bar_to) const;
  double get_time_delta_f64(Fraction bar_from, Fraction bar_to) const;
  Fraction get_bar_by_time(double time) const;

  // Allocation-free forms used by the renderer: the time of a bar, and the
  // governing state by reference. The reference stays valid until the events
  // change (init_events drops the table); further queries do not move it.
  Fraction time_at(Fraction bar) const;
  const Event& state_at(Fraction bar) const;

  // The timing table, or none before the first time query.
  const std::optional<std::vector<TimedEvent>>& timing_table() const noexcept {
    return timed_events_;
  }

 private:
  friend struct TimingTableAccess;  // tests install a table of their own
  const std::vector<TimedEvent>& table() const;
  std::size_t governing_index(Fraction bar) const;

  mutable std::optional<std::vector<TimedEvent>> timed_events_;
};

}  // namespace corvane

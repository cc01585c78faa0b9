#pragma once
// Shared pieces of the fuzz targets: the finding type, input repair, and
// oracles that check a score against the rules it must keep and against
// plain reference versions of its linking and bar-at-time walk.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "error.hpp"
#include "fraction.hpp"
#include "notes/event.hpp"
#include "notes/note.hpp"
#include "score.hpp"

namespace corvane::fuzz {

// Not a corvane::Error: escapes the target, so libFuzzer records the input.
struct Finding : std::logic_error {
  using std::logic_error::logic_error;
};

inline void check(bool ok, const std::string& what) {
  if (!ok) throw Finding(what);
}

// Valid UTF-8 out: every malformed byte becomes "?". With xml_chars, code
// points that no XML document may hold (C0 controls other than tab, line feed
// and carriage return; U+FFFE, U+FFFF) become "?" too: Python strings can
// carry them, but the document has no way to write them.
inline std::string repair_utf8(std::string_view in, bool xml_chars) {
  std::string out;
  out.reserve(in.size());
  std::size_t i = 0;
  while (i < in.size()) {
    const auto c = static_cast<unsigned char>(in[i]);
    std::size_t len = 0;
    std::uint32_t cp = 0;
    if (c < 0x80) {
      len = 1;
      cp = c;
    } else if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1FU;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0FU;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07U;
    }
    bool ok = len != 0 && i + len <= in.size();
    for (std::size_t k = 1; ok && k < len; ++k) {
      const auto cc = static_cast<unsigned char>(in[i + k]);
      if ((cc & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (cc & 0x3FU);
    }
    if (ok) {
      const bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
      const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
      if (overlong || surrogate || cp > 0x10FFFF) ok = false;
    }
    if (!ok) {
      out += '?';
      ++i;
      continue;
    }
    const bool bad_xml = (cp < 0x20 && cp != 0x9 && cp != 0xA && cp != 0xD) || cp == 0xFFFE ||
                         cp == 0xFFFF;
    if (xml_chars && bad_xml) {
      out += '?';
    } else {
      out.append(in.substr(i, len));
    }
    i += len;
  }
  return out;
}

inline bool link_ok(std::size_t link, std::size_t n) { return link == kNoLink || link < n; }

// What every built score keeps: sorted notes and events, links inside the
// note list and pointing forward along a chain, active notes ascending and
// playable, no event equal to the one before it, no stale timing table.
inline void check_score(const Score& s) {
  const std::size_t n = s.notes.size();
  for (std::size_t i = 0; i < n; ++i) {
    const NoteData& note = s.notes[i];
    if (i > 0) check(!(note.base.bar < s.notes[i - 1].base.bar), "notes not sorted by bar");
    check(link_ok(note.directional.tap, n), "directional tap link out of range");
    if (note.is_slide()) {
      const Slide& sl = note.slide;
      check(link_ok(sl.tap, n) && link_ok(sl.directional, n) && link_ok(sl.next, n) &&
                link_ok(sl.head, n),
            "slide link out of range");
      if (sl.next != kNoLink) {
        check(sl.next > i, "slide next does not point forward");
        check(s.notes[sl.next].is_slide(), "slide next is not a slide step");
        check(s.notes[sl.next].slide.head == sl.head, "chain head differs along the chain");
      }
      if (sl.head != kNoLink) check(sl.head <= i, "slide head after the step");
    }
  }
  for (std::size_t k = 0; k < s.active_notes.size(); ++k) {
    const std::size_t i = s.active_notes[k];
    check(i < n, "active note out of range");
    if (k > 0) check(i > s.active_notes[k - 1], "active notes not ascending");
    check(is_playable_lane(s.notes[i].base.lane), "active note on a special lane");
  }
  for (std::size_t k = 1; k < s.events.size(); ++k) {
    check(!(s.events[k].bar < s.events[k - 1].bar), "events not sorted by bar");
    check(!(s.events[k] == s.events[k - 1]), "consecutive equal events kept");
  }
}

// The linking passes written out plainly, on the score's (already sorted)
// notes with their links cleared; the result must match the score's own.
inline void check_links_against_reference(const Score& s) {
  std::vector<NoteData> ref = s.notes;
  const std::size_t n = ref.size();
  for (NoteData& note : ref) {
    note.directional = Directional{};
    note.slide.tap = note.slide.directional = note.slide.next = note.slide.head = kNoLink;
  }
  std::vector<bool> used(n, false);
  std::unordered_map<Fraction, std::vector<std::size_t>, FractionHash> by_bar;
  for (std::size_t i = 0; i < n; ++i) {
    if (!is_playable_lane(ref[i].base.lane)) {
      used[i] = true;
    } else {
      by_bar[ref[i].base.bar].push_back(i);
    }
  }
  const auto same_place = [&](std::size_t a, std::size_t b) {
    return ref[a].base.lane == ref[b].base.lane && ref[a].base.width == ref[b].base.width;
  };
  for (std::size_t i = 0; i < n; ++i) {
    if (used[i] || !ref[i].is_directional()) continue;
    for (std::size_t j : by_bar[ref[i].base.bar]) {
      if (!used[j] && ref[j].is_tap() && same_place(i, j)) {
        used[j] = true;
        ref[i].directional.tap = j;
      }
    }
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (used[i] || !ref[i].is_slide()) continue;
    Slide& sl = ref[i].slide;
    if (sl.head == kNoLink) sl.head = i;
    const std::vector<std::size_t>& group = by_bar[ref[i].base.bar];
    for (std::size_t j : group) {
      if (!used[j] && ref[j].is_tap() && same_place(i, j)) {
        used[j] = true;
        sl.tap = j;
      }
    }
    for (std::size_t j : group) {
      if (!used[j] && ref[j].is_directional() && same_place(i, j)) {
        used[j] = true;
        sl.directional = j;
        if (ref[j].directional.tap != kNoLink) sl.tap = ref[j].directional.tap;
      }
    }
    if (ref[i].base.note_type != 2) {
      for (std::size_t k = i + 1; k < n; ++k) {
        if (!used[k] && ref[k].is_slide() && ref[k].slide.channel == sl.channel &&
            ref[k].slide.decoration == sl.decoration) {
          sl.next = k;
          ref[k].slide.head = sl.head;
          break;
        }
      }
    }
  }
  std::vector<std::size_t> active;
  for (std::size_t i = 0; i < n; ++i)
    if (!used[i]) active.push_back(i);
  check(active == s.active_notes, "active notes differ from the reference linking");
  for (std::size_t i = 0; i < n; ++i) {
    const NoteData& a = s.notes[i];
    const NoteData& b = ref[i];
    check(a.directional.tap == b.directional.tap, "directional tap differs from the reference");
    if (a.is_slide()) {
      check(a.slide.tap == b.slide.tap && a.slide.directional == b.slide.directional &&
                a.slide.next == b.slide.next && a.slide.head == b.slide.head,
            "slide links differ from the reference (note " + std::to_string(i) + ")");
    }
  }
}

// The bar-at-time walk exactly as the plain algorithm states it: events in
// list order, stop after the first segment that ends strictly after `time`.
// Only meaningful when the first event lies at bar 0 or there is none.
inline Fraction reference_bar_by_time(const Score& s, double time) {
  Event state = Event::initial_state();
  double elapsed = 0.0;
  double start = 0.0;
  for (std::size_t i = 0; i < s.events.size(); ++i) {
    start = elapsed;
    state.merge_from(s.events[i]);
    if (i + 1 == s.events.size()) break;
    const Fraction seg =
        *state.bar_length * Fraction(60) / *state.bpm * (s.events[i + 1].bar - state.bar);
    elapsed = start + seg.to_double();
    if (elapsed > time) break;
  }
  const Fraction q = Fraction::from_f64(time - start);
  const Fraction bar = state.bar + q * (*state.bpm / (*state.bar_length * Fraction(60)));
  return bar.limit_denominator(1000000);
}

// Runs the timing queries at a few bars and times; only corvane::Error may
// come out of them (overflow of the exact arithmetic is reported that way).
inline void exercise_timing(Score& s, const std::vector<Fraction>& bars,
                            const std::vector<double>& times) {
  for (Fraction bar : bars) {
    try {
      const auto [t, state] = s.get_timed_event(bar);
      check(state.bpm.has_value() && state.bar_length.has_value(), "state without tempo");
      check(!state.bpm->is_zero() && !state.bar_length->is_zero(), "state with a zero tempo");
      check(t.denominator() <= 1000000000, "table time denominator above its bound");
      check(s.get_time_delta(bar, bar).is_zero(), "time delta of a bar to itself is not 0");
      (void)s.get_time_delta_f64(Fraction(0), bar);
    } catch (const Error&) {
    }
  }
  const bool plain_origin = s.events.empty() || s.events.front().bar.is_zero();
  for (double t : times) {
    std::optional<Fraction> got;
    try {
      got = s.get_bar_by_time(t);
      check(got->denominator() <= 1000000, "bar at time denominator above its bound");
    } catch (const Error&) {
    }
    if (!plain_origin || !got) continue;
    std::optional<Fraction> want;
    try {
      want = reference_bar_by_time(s, t);
    } catch (const Error&) {
    }
    if (want) {
      check(*got == *want, "get_bar_by_time(" + std::to_string(t) + ") = " + got->fmt() +
                               ", reference walk gives " + want->fmt());
    }
  }
}

}  // namespace corvane::fuzz

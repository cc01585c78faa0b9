#include "drawing/note_loop.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "drawing/layout.hpp"
#include "drawing/markup.hpp"
#include "drawing/note_image.hpp"
#include "drawing/slide_path.hpp"

namespace corvane {

namespace {

// Steps of type 0 and attached relays do not decide whether a chain shows.
bool is_considered(const NoteData& n) {
  return !n.is_slide() || (n.base.note_type != 0 && !is_attached_relay(n));
}

// The column's window of bars [start - 1, end + 1) as bounds on note
// indices: the note list is sorted by bar, so an index comparison is a bar
// comparison, which keeps the per-column pass over the notes cheap.
struct Window {
  std::size_t first = 0;  // first note whose bar is at least start - 1
  std::size_t past = 0;   // first note whose bar is at least end + 1
  std::size_t after = 0;  // first note whose bar is beyond end + 1

  Window(std::span<const NoteData> notes, Fraction lo, Fraction hi) {
    const auto bound = [&](auto before) {
      return static_cast<std::size_t>(std::partition_point(notes.begin(), notes.end(), before) -
                                      notes.begin());
    };
    first = bound([lo](const NoteData& n) { return n.base.bar < lo; });
    past = bound([hi](const NoteData& n) { return n.base.bar < hi; });
    after = bound([hi](const NoteData& n) { return n.base.bar <= hi; });
  }
  bool contains(std::size_t i) const noexcept { return i >= first && i < past; }
};

// Whether the chain starting at `head` reaches into the window or spans it.
bool chain_visible(std::span<const NoteData> notes, std::size_t head, const Window& window) {
  bool before = false;  // a considered step lay before the window
  std::size_t k = head;
  while (true) {
    const NoteData& n = notes[k];
    if (is_considered(n)) {
      if (window.contains(k)) return true;
      if (k < window.first) {
        before = true;
      } else if (k >= window.after) {
        // Chains link to later notes, so nothing further along can lie
        // before the window any more. A step exactly at end + 1 decides
        // nothing.
        return before;
      }
    }
    if (!n.is_slide() || n.slide.next == kNoLink) return false;
    k = n.slide.next;
  }
}

// First counted tick at or after a position whose bar is later than a given
// bar. The last answer is remembered: a later query from a later position for
// a bar not earlier than the last one can resume where the last scan stopped,
// since nothing between held a counted tick beyond the smaller bar. Runs of
// equal bars therefore cost one scan, not one each.
class NextTickFinder {
 public:
  NextTickFinder(std::span<const NoteData> notes, std::span<const std::size_t> active)
      : notes_(notes), active_(active) {}

  // Position in the active list, or active.size() when there is none.
  std::size_t find(std::size_t pos, Fraction bar) {
    std::size_t scan = pos;
    if (valid_ && pos >= from_ && bar >= bar_) scan = std::max(pos, result_);
    while (scan < active_.size()) {
      const NoteData& n = notes_[active_[scan]];
      if (n.base.bar > bar) {
        const std::optional<bool> tick = NoteData::is_tick(n, notes_);
        if (tick.has_value() && *tick) break;
      }
      ++scan;
    }
    valid_ = true;
    from_ = pos;
    bar_ = bar;
    result_ = scan;
    return scan;
  }

 private:
  std::span<const NoteData> notes_;
  std::span<const std::size_t> active_;
  bool valid_ = false;
  std::size_t from_ = 0;
  Fraction bar_;
  std::size_t result_ = 0;
};

void append_tick_line(std::string& out, double x1, double x2, double y) {
  append_markup<R"svg(<line x1="{}" y1="{}" x2="{}" y2="{}" class="tick-line"/>)svg">(
      out, x1, y, x2, y);
}

}  // namespace

void run_note_loop(const Drawing& drawing, const Score& score, std::int32_t start, std::int32_t end,
                   ColumnBuffers& buffers, const DocumentBudget& budget) {
  // Neither note list changes here; the timing queries only fill the
  // score's timing table, which the spans below do not see.
  const std::span<const NoteData> notes(score.notes);
  const std::span<const std::size_t> active(score.active_notes);
  const Window window(notes, Fraction(start) - Fraction(1), Fraction(end) + Fraction(1));
  const Fraction top(end);
  const double margin_x = static_cast<double>(drawing.margin_x);

  // Chain visibility per head for this column: 0 unknown, 1 shown, 2 hidden.
  std::vector<std::uint8_t> chain_memo;
  NextTickFinder next_tick(notes, active);
  ColumnYCache column_y_of(drawing, score, top);
  SlidePathScratch scratch;

  for (std::size_t pos = 0; pos < active.size(); ++pos) {
    const std::size_t i = active[pos];
    const NoteData& note = notes[i];
    bool visible = false;
    if (note.is_slide()) {
      const std::size_t head = note.slide.head;
      if (head != kNoLink) {
        if (chain_memo.empty()) chain_memo.assign(notes.size(), 0);
        std::uint8_t& memo = chain_memo[head];
        if (memo == 0) memo = chain_visible(notes, head, window) ? 1 : 2;
        visible = memo == 1;
      }
    } else {
      visible = window.contains(i);
    }
    if (!visible) continue;

    const Fraction bar = note.base.bar;

    const auto y = [&]() { return column_y_of(bar); };

    if (const std::optional<bool> tick = NoteData::is_tick(note, notes)) {
      if (!*tick) {
        append_tick_line(buffers.tick_marks, margin_x - drawing.short_tick_length, margin_x, y());
      } else {
        const std::size_t q = next_tick.find(pos, bar);
        const bool found = q < active.size();
        const Fraction next_bar = found ? notes[active[q]].base.bar : bar;
        const Fraction gap_to_next = next_bar - bar;
        const double gap_bars = gap_to_next.to_double();
        // Up to the next bar line when there is no later tick, or it lies too
        // far or beyond the next bar line.
        const Fraction gap =
            (!found || gap_bars > 1.0 || (gap_bars > 0.5 && next_bar.floor() != bar.floor()))
                ? Fraction(bar.floor()) + Fraction(1) - bar
                : gap_to_next;
        const Event& state = score.state_at(bar);
        const Fraction beats_per_bar = state.bar_length.value_or(Fraction(4));
        // The gap as a fraction of four beats, a whole note.
        const Fraction value = (gap * beats_per_bar / Fraction(4)).limit_denominator(100);
        if (!value.is_zero()) {
          std::string& out = buffers.tick_marks;
          append_tick_line(out, margin_x - drawing.tick_length, margin_x, y());
          // Digits and a slash only: nothing to escape.
          if (value.numerator() == 1) {
            append_markup<R"svg(<text x="{}" y="{}" class="tick-text">/{}</text>)svg">(
                out, margin_x - 4, y() - 2, value.denominator());
          } else {
            append_markup<R"svg(<text x="{}" y="{}" class="tick-text">{}/{}</text>)svg">(
                out, margin_x - 4, y() - 2, value.numerator(), value.denominator());
          }
        }
      }
    }

    switch (note.kind) {
      case NoteData::Kind::Tap:
        write_note_image_at(drawing, notes, i, y(), buffers.note_images);
        break;
      case NoteData::Kind::Directional:
        write_flick_image_at(drawing, notes, i, y(), buffers.flick_arrows);
        write_note_image_at(drawing, notes, i, y(), buffers.note_images);
        break;
      case NoteData::Kind::Slide: {
        const Slide& s = note.slide;
        const std::uint32_t type = note.base.note_type;
        if (!s.decoration) {
          if (type == 1) {
            write_slide_path(drawing, column_y_of, i, buffers.slide_paths, buffers.relay_images,
                             scratch, budget);
            write_note_image_at(drawing, notes, i, y(), buffers.note_images);
          } else if (type == 2) {
            if (s.directional != kNoLink) {
              write_flick_image_at(drawing, notes, i, y(), buffers.flick_arrows);
            }
            write_note_image_at(drawing, notes, i, y(), buffers.note_images);
          }
          // Other steps: their relay images come with the slide's path.
        } else {
          if (type == 1) {
            write_slide_path(drawing, column_y_of, i, buffers.slide_paths, buffers.relay_images,
                             scratch, budget);
          }
          if (s.tap != kNoLink) {
            write_note_image_at(drawing, notes, s.tap, column_y_of(notes[s.tap].base.bar),
                                buffers.note_images);
            if (s.directional != kNoLink) {
              write_flick_image_at(drawing, notes, i, y(), buffers.flick_arrows);
            }
          }
        }
        break;
      }
    }
    budget.check(buffers.bytes());
  }
}

void run_note_loop(const Drawing& drawing, const Score& score, std::int32_t start, std::int32_t end,
                   ColumnBuffers& buffers) {
  const DocumentBudget budget;
  run_note_loop(drawing, score, start, end, buffers, budget);
}

}  // namespace corvane

#include "drawing/column.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "drawing/format.hpp"
#include "drawing/layout.hpp"
#include "drawing/markup.hpp"
#include "drawing/note_loop.hpp"

namespace corvane {

namespace {

// Overlay margins around a column, in bars.
const Fraction kRangeMargin(1, 5);
const Fraction kTextMargin(1, 10);
// Entries at most this far apart (in bars) share one label.
constexpr double kLabelMergeDistance = 0.0625;

// One entry of the flag pass: a bare bar marker (event == nullptr) or an
// event of the score, referenced rather than copied.
struct FlagEntry {
  Fraction bar;
  const Event* event;
};

bool sets_label_field(const Event& e) {
  return e.bpm.has_value() || e.bar_length.has_value() || e.section.has_value() ||
         e.text.has_value();
}

// A flag, bar, beat or speed line.
void append_line(std::string& out, std::int64_t x1, std::int64_t y1, std::int64_t x2,
                 std::int64_t y2, std::string_view cls) {
  append_markup<R"svg(<line x1="{}" y1="{}" x2="{}" y2="{}" class="{}"/>)svg">(
      out, x1, y1, x2, y2, cls);
}

// A label or lyric word, turned to read upward about (rx, ry).
void append_rotated_text(std::string& out, std::int64_t x, std::int64_t y, std::int64_t rx,
                         std::int64_t ry, std::string_view cls, std::string_view text) {
  append_markup<
      R"svg(<text x="{}" y="{}" transform="rotate(-90, {}, {})" class="{}">{}</text>)svg">(
      out, x, y, rx, ry, cls, Escaped{text});
}

// Label text of one merged entry: bar number, tempo, beats, section, text.
void build_label_text(const Event& label, std::string& text) {
  text.clear();
  // A present but empty section or text is still a part, separated as such.
  bool first = true;
  const auto separate = [&] {
    if (!first) text += ", ";
    first = false;
  };
  if (label.bar.denominator() == 1) {
    separate();
    append_markup<"#{}">(text, G{static_cast<double>(label.bar.numerator())});
  }
  if (label.bpm) {
    separate();
    append_markup<"{} BPM">(text, G{label.bpm->to_double()});
  }
  if (label.bar_length) {
    separate();
    append_markup<"{}/4">(text, G{label.bar_length->to_double()});
  }
  if (label.section) {
    separate();
    text += *label.section;
  }
  if (label.text) {
    separate();
    text += *label.text;
  }
}

class Column {
 public:
  Column(const Drawing& d, const Score& score, const Lyric* lyric, std::int32_t start,
         std::int32_t end, const DocumentBudget& budget)
      : d_(d),
        score_(score),
        lyric_(lyric),
        budget_(budget),
        start_(start),
        end_(end),
        top_(end),
        lanes_width_(static_cast<double>(d.lane_width) * static_cast<double>(d.lane_count)),
        x_left_(round_even(static_cast<double>(d.margin_x))),
        x_right_(round_even(static_cast<double>(d.margin_x) + lanes_width_)) {}

  ColumnResult render() {
    const double duration = score_.get_time_delta_f64(Fraction(start_), top_);
    width_ = lanes_width_ + 2.0 * static_cast<double>(d_.margin_x);
    height_ = d_.time_height * duration + 2.0 * static_cast<double>(d_.margin_y);

    // The note loop only fills the side buffers; they go on top of the
    // column's own elements.
    run_note_loop(d_, score_, start_, end_, buffers_, budget_);

    ColumnResult result;
    std::string& out = result.fragment;
    out.reserve(16384);
    write_background(out);
    write_overlays(out);
    write_lane_lines(out);
    write_bar_lines(out);
    write_flags_and_labels(out);
    write_lyrics(out);
    append_side_buffers(out);
    result.width = width_;
    result.height = height_;
    return result;
  }

 private:
  double y(Fraction bar) const { return column_y(d_, score_, bar, top_); }

  // Refuses the column once it would take the document past its bound.
  void check_size(const std::string& out) const { budget_.check(out.size() + buffers_.bytes()); }

  void write_background(std::string& out) const {
    append_markup<R"svg(<rect x="0" y="0" width="{}" height="{}" class="background"/>)svg">(
        out, width_, height_);
    append_markup<R"svg(<rect x="{}" y="0" width="{}" height="{}" class="lane"/>)svg">(
        out, d_.margin_x, lanes_width_, height_);
  }

  void write_overlays(std::string& out) const {
    const Fraction low = Fraction(start_) - kRangeMargin;
    const Fraction high = top_ + kRangeMargin;
    const Fraction text_high = top_ - kTextMargin;
    for (const CoverObject& obj : d_.cover_objects) {
      if (obj.kind == CoverObject::Kind::Range) {
        const Fraction lo = obj.from > low ? obj.from : low;
        const Fraction hi = obj.to < high ? obj.to : high;
        if (hi <= lo) continue;
        append_markup<R"svg(<rect x="{}" y="{}" width="{}" height="{}" class="{}"/>)svg">(
            out, d_.margin_x, y(hi), lanes_width_,
            d_.time_height * score_.get_time_delta_f64(lo, hi), Escaped{obj.class_name});
      } else {
        // A text at the top bar belongs to the next column.
        if (obj.bar < low || obj.bar >= text_high) continue;
        const std::int64_t x = round_even(width_ - 3.0);
        const std::int64_t ty = round_even(y(obj.bar));
        append_markup<
            R"svg(<text x="{}" y="{}" transform="rotate(-90, {}, {})" class="{}">{}</text>)svg">(
            out, x, ty, x, ty, Escaped{obj.class_name}, Escaped{obj.text});
      }
    }
  }

  void write_lane_lines(std::string& out) const {
    const std::int64_t h = round_even(height_);
    for (std::int64_t i = 0; i <= d_.lane_count; ++i) {
      const double lane_x = static_cast<double>(i) * static_cast<double>(d_.lane_width);
      const std::int64_t x = round_even(static_cast<double>(d_.margin_x) + lane_x);
      append_markup<R"svg(<line x1="{}" y1="0" x2="{}" y2="{}" class="lane-line"/>)svg">(
          out, x, x, h);
    }
  }

  void write_bar_lines(std::string& out) const {
    for (std::int64_t b = start_; b <= end_; ++b) {
      const Fraction bar(b);
      const std::int64_t bar_y = round_even(y(bar));
      append_line(out, x_left_, bar_y, x_right_, bar_y, "bar-line");
      const Event& state = score_.state_at(bar);
      const Fraction beats_per_bar = state.bar_length ? *state.bar_length : Fraction(4);
      const double rounded_up = std::ceil(beats_per_bar.to_double());
      if (!(rounded_up >= 2.0)) continue;
      const std::int64_t n = rounded_up >= 9.2e18 ? std::numeric_limits<std::int64_t>::max()
                                                  : static_cast<std::int64_t>(rounded_up);
      for (std::int64_t k = 1; k < n; ++k) {
        const std::int64_t beat_y = round_even(y(bar + Fraction(k) / beats_per_bar));
        append_line(out, x_left_, beat_y, x_right_, beat_y, "beat-line");
      }
    }
  }

  void write_flags_and_labels(std::string& out) {
    const std::vector<Event>& events = score_.events;
    std::vector<FlagEntry> entries;
    entries.reserve(static_cast<std::size_t>(static_cast<std::int64_t>(end_) - start_ + 1) +
                    events.size());
    for (std::int64_t b = start_; b <= end_; ++b) entries.push_back({Fraction(b), nullptr});
    const auto markers_end = static_cast<std::ptrdiff_t>(entries.size());
    for (const Event& e : events) entries.push_back({e.bar, &e});
    const auto by_bar = [](const FlagEntry& a, const FlagEntry& b) { return a.bar < b.bar; };
    // Markers come first, so at equal bars a marker precedes the events.
    if (std::is_sorted(entries.begin() + markers_end, entries.end(), by_bar)) {
      std::inplace_merge(entries.begin(), entries.begin() + markers_end, entries.end(), by_bar);
    } else {
      std::stable_sort(entries.begin(), entries.end(), by_bar);
    }

    const Fraction label_low = Fraction(start_) - Fraction(1);
    const Fraction label_high = top_ + Fraction(1);
    const std::int64_t speed_text_x =
        round_even(static_cast<double>(d_.margin_x) + lanes_width_ - 2.0);

    // A run is a sequence of non-speed entries each within the merge distance
    // of the one before; it becomes one label at its last entry's bar. Only
    // runs that end near this column are merged into a label.
    std::vector<Event> labels;
    bool in_run = false;
    std::size_t run_first = 0;
    Fraction run_bar;
    const auto close_run = [&](std::size_t run_end) {
      if (!in_run || run_bar < label_low || run_bar >= label_high) return;
      Event label;
      bool started = false;
      for (std::size_t j = run_first; j < run_end; ++j) {
        const FlagEntry& entry = entries[j];
        if (entry.event != nullptr && entry.event->speed) continue;
        if (!started) {
          label = entry.event != nullptr ? *entry.event : Event{};
          label.bar = entry.bar;
          started = true;
        } else if (entry.event != nullptr) {
          label.merge_from(*entry.event);
        } else {
          label.bar = entry.bar;  // a bare marker sets nothing but the bar
        }
      }
      labels.push_back(std::move(label));
    };

    for (std::size_t i = 0; i < entries.size(); ++i) {
      const FlagEntry& entry = entries[i];
      const double entry_y = y(entry.bar);
      if (entry.event != nullptr && entry.event->speed) {
        std::string& marks = buffers_.speed_marks;
        const std::int64_t speed_y = round_even(entry_y);
        append_line(marks, x_left_, speed_y, x_right_, speed_y, "speed-line");
        append_markup<R"svg(<text x="{}" y="{}" class="speed-text">{}x</text>)svg">(
            marks, speed_text_x, entry_y - 2.0, G{*entry.event->speed});
      } else {
        if (in_run && (entry.bar - run_bar).to_double() <= kLabelMergeDistance) {
          run_bar = entry.bar;
        } else {
          close_run(i);
          in_run = true;
          run_first = i;
          run_bar = entry.bar;
        }
        const bool event_flag = entry.event != nullptr && sets_label_field(*entry.event);
        const std::int64_t flag_y = round_even(entry_y);
        append_line(out, 0, flag_y, x_left_, flag_y, event_flag ? "event-flag" : "bar-count-flag");
      }
      // Every event is drawn in every column.
      check_size(out);
    }
    close_run(entries.size());

    std::string text;
    const double label_x = static_cast<double>(d_.margin_x) + 8.0;
    const double label_shift = 1.5 * static_cast<double>(d_.lane_width);
    for (const Event& label : labels) {
      build_label_text(label, text);
      if (text.empty()) continue;
      // The label's own texts go in escaped: they can be of any size.
      budget_.check(out.size() + buffers_.bytes() + escaped_size(text));
      const bool event_text = sets_label_field(label) || label.speed.has_value();
      const double label_y = y(label.bar);
      append_rotated_text(out, round_even(label_x), round_even(label_y - label_shift), x_left_,
                          round_even(label_y),
                          event_text ? "event-text" : "bar-count-text", text);
    }
  }

  void write_lyrics(std::string& out) const {
    if (lyric_ == nullptr) return;
    const Fraction low = Fraction(start_) - Fraction(1);
    const Fraction high = top_ + Fraction(1);
    for (const Word& word : lyric_->words) {
      if (word.bar < low || word.bar >= high) continue;
      budget_.check(out.size() + buffers_.bytes() + escaped_size(word.text));
      const double word_y = y(word.bar);
      append_rotated_text(out, x_right_, round_even(word_y + 16.0), x_right_, round_even(word_y),
                          "lyric-text", word.text);
    }
  }

  void append_side_buffers(std::string& out) const {
    out.reserve(out.size() + buffers_.bytes());
    out += buffers_.slide_paths;
    out += buffers_.note_images;
    out += buffers_.relay_images;
    // The arrow written last stands first, beneath the others.
    buffers_.flick_arrows.append_reversed(out);
    out += buffers_.tick_marks;
    out += buffers_.speed_marks;
  }

  const Drawing& d_;
  const Score& score_;
  const Lyric* lyric_;
  const DocumentBudget& budget_;
  const std::int32_t start_;
  const std::int32_t end_;
  const Fraction top_;
  const double lanes_width_;
  const std::int64_t x_left_;
  const std::int64_t x_right_;
  double width_ = 0;
  double height_ = 0;
  ColumnBuffers buffers_;
};

}  // namespace

ColumnResult render_sentence(const Drawing& drawing, const Score& score, const Lyric* lyric,
                             std::int32_t start, std::int32_t end, const DocumentBudget& budget) {
  return Column(drawing, score, lyric, start, end, budget).render();
}

ColumnResult render_sentence(const Drawing& drawing, const Score& score, const Lyric* lyric,
                             std::int32_t start, std::int32_t end) {
  const DocumentBudget budget;
  return render_sentence(drawing, score, lyric, start, end, budget);
}

}  // namespace corvane

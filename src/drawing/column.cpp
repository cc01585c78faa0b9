#include "drawing/column.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "drawing/format.hpp"
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

void append_line(std::string& out, std::int64_t x1, std::int64_t y1, std::int64_t x2,
                 std::int64_t y2, std::string_view cls) {
  out += "<line x1=\"";
  append_int(out, x1);
  out += "\" y1=\"";
  append_int(out, y1);
  out += "\" x2=\"";
  append_int(out, x2);
  out += "\" y2=\"";
  append_int(out, y2);
  out += "\" class=\"";
  out += cls;
  out += "\"/>";
}

// <text x y transform="rotate(-90, rx, ry)" class>escaped text</text>
void append_rotated_text(std::string& out, std::int64_t x, std::int64_t y, std::int64_t rx,
                         std::int64_t ry, std::string_view cls, std::string_view text) {
  out += "<text x=\"";
  append_int(out, x);
  out += "\" y=\"";
  append_int(out, y);
  out += "\" transform=\"rotate(-90, ";
  append_int(out, rx);
  out += ", ";
  append_int(out, ry);
  out += ")\" class=\"";
  append_escaped(out, cls);
  out += "\">";
  append_escaped(out, text);
  out += "</text>";
}

// Label text of one merged entry: bar number, tempo, beats, section, text.
void build_label_text(const Event& label, std::string& text) {
  text.clear();
  bool first = true;
  auto sep = [&] {
    if (!first) text += ", ";
    first = false;
  };
  if (label.bar.denominator() == 1) {
    sep();
    text += '#';
    append_format_g(text, static_cast<double>(label.bar.numerator()));
  }
  if (label.bpm) {
    sep();
    append_format_g(text, label.bpm->to_double());
    text += " BPM";
  }
  if (label.bar_length) {
    sep();
    append_format_g(text, label.bar_length->to_double());
    text += "/4";
  }
  if (label.section) {
    sep();
    text += *label.section;
  }
  if (label.text) {
    sep();
    text += *label.text;
  }
}

class Column {
 public:
  Column(const Drawing& d, const Score& score, const Lyric* lyric, std::int32_t start, std::int32_t end)
      : d_(d),
        score_(score),
        lyric_(lyric),
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
    run_note_loop(d_, score_, start_, end_, buffers_);

    ColumnResult result;
    out_ = &result.fragment;
    out_->reserve(16384);
    write_background();
    write_overlays();
    write_lane_lines();
    write_bar_lines();
    write_flags_and_labels();
    write_lyrics();
    append_side_buffers();
    result.width = width_;
    result.height = height_;
    return result;
  }

 private:
  double y(Fraction bar) { return column_y(d_, score_, bar, top_); }

  void write_background() {
    std::string& out = *out_;
    out += "<rect x=\"0\" y=\"0\" width=\"";
    append_round(out, width_);
    out += "\" height=\"";
    append_round(out, height_);
    out += "\" class=\"background\"/>";
    out += "<rect x=\"";
    append_int(out, d_.margin_x);
    out += "\" y=\"0\" width=\"";
    append_round(out, lanes_width_);
    out += "\" height=\"";
    append_round(out, height_);
    out += "\" class=\"lane\"/>";
  }

  void write_overlays() {
    std::string& out = *out_;
    const Fraction low = Fraction(start_) - kRangeMargin;
    const Fraction high = top_ + kRangeMargin;
    const Fraction text_high = top_ - kTextMargin;
    for (const CoverObject& obj : d_.cover_objects) {
      if (obj.kind == CoverObject::Kind::Range) {
        const Fraction lo = obj.from > low ? obj.from : low;
        const Fraction hi = obj.to < high ? obj.to : high;
        if (hi <= lo) continue;
        out += "<rect";
        append_box(out, d_.margin_x, y(hi), lanes_width_,
                   d_.time_height * score_.get_time_delta_f64(lo, hi));
        out += " class=\"";
        append_escaped(out, obj.class_name);
        out += "\"/>";
      } else {
        // A text at the top bar belongs to the next column.
        if (obj.bar < low || obj.bar >= text_high) continue;
        const std::int64_t x = round_even(width_ - 3.0);
        const std::int64_t ty = round_even(y(obj.bar));
        append_rotated_text(out, x, ty, x, ty, obj.class_name, obj.text);
      }
    }
  }

  void write_lane_lines() {
    std::string& out = *out_;
    const std::int64_t h = round_even(height_);
    for (std::int64_t i = 0; i <= d_.lane_count; ++i) {
      const std::int64_t x = round_even(static_cast<double>(d_.margin_x) +
                                        static_cast<double>(i) * static_cast<double>(d_.lane_width));
      out += "<line x1=\"";
      append_int(out, x);
      out += "\" y1=\"0\" x2=\"";
      append_int(out, x);
      out += "\" y2=\"";
      append_int(out, h);
      out += "\" class=\"lane-line\"/>";
    }
  }

  void write_bar_lines() {
    std::string& out = *out_;
    for (std::int64_t b = start_; b <= end_; ++b) {
      const Fraction bar(b);
      const std::int64_t by = round_even(y(bar));
      append_line(out, x_left_, by, x_right_, by, "bar-line");
      const Event& state = score_.state_at(bar);
      // Copied out: the state reference is not kept across timing queries.
      const Fraction beats = state.bar_length ? *state.bar_length : Fraction(4);
      const double rounded_up = std::ceil(beats.to_double());
      if (!(rounded_up >= 2.0)) continue;
      const std::int64_t n = rounded_up >= 9.2e18 ? std::numeric_limits<std::int64_t>::max()
                                                  : static_cast<std::int64_t>(rounded_up);
      for (std::int64_t k = 1; k < n; ++k) {
        const std::int64_t ky = round_even(y(bar + Fraction(k) / beats));
        append_line(out, x_left_, ky, x_right_, ky, "beat-line");
      }
    }
  }

  void write_flags_and_labels() {
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

    std::string& out = *out_;
    const Fraction label_low = Fraction(start_) - Fraction(1);
    const Fraction label_high = top_ + Fraction(1);
    const std::int64_t speed_text_x = round_even(static_cast<double>(d_.margin_x) + lanes_width_ - 2.0);

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
      const double ey = y(entry.bar);
      if (entry.event != nullptr && entry.event->speed) {
        std::string& marks = buffers_.speed_marks;
        const std::int64_t sy = round_even(ey);
        append_line(marks, x_left_, sy, x_right_, sy, "speed-line");
        marks += "<text x=\"";
        append_int(marks, speed_text_x);
        marks += "\" y=\"";
        append_round(marks, ey - 2.0);
        marks += "\" class=\"speed-text\">";
        append_format_g(marks, *entry.event->speed);
        marks += "x</text>";
        continue;
      }
      if (in_run && (entry.bar - run_bar).to_double() <= kLabelMergeDistance) {
        run_bar = entry.bar;
      } else {
        close_run(i);
        in_run = true;
        run_first = i;
        run_bar = entry.bar;
      }
      const bool event_flag = entry.event != nullptr && sets_label_field(*entry.event);
      const std::int64_t fy = round_even(ey);
      append_line(out, 0, fy, x_left_, fy, event_flag ? "event-flag" : "bar-count-flag");
    }
    close_run(entries.size());

    std::string text;
    const double label_x = static_cast<double>(d_.margin_x) + 8.0;
    const double label_shift = 1.5 * static_cast<double>(d_.lane_width);
    for (const Event& label : labels) {
      build_label_text(label, text);
      if (text.empty()) continue;
      const bool event_text = sets_label_field(label) || label.speed.has_value();
      const double ly = y(label.bar);
      append_rotated_text(out, round_even(label_x), round_even(ly - label_shift), x_left_,
                          round_even(ly), event_text ? "event-text" : "bar-count-text", text);
    }
  }

  void write_lyrics() {
    if (lyric_ == nullptr) return;
    const Fraction low = Fraction(start_) - Fraction(1);
    const Fraction high = top_ + Fraction(1);
    for (const Word& word : lyric_->words) {
      if (word.bar < low || word.bar >= high) continue;
      const double wy = y(word.bar);
      append_rotated_text(*out_, x_right_, round_even(wy + 16.0), x_right_, round_even(wy),
                          "lyric-text", word.text);
    }
  }

  void append_side_buffers() {
    std::string& out = *out_;
    std::size_t extra = buffers_.slide_paths.size() + buffers_.note_images.size() +
                        buffers_.relay_images.size() + buffers_.tick_marks.size() +
                        buffers_.speed_marks.size();
    for (const std::string& s : buffers_.flick_arrows) extra += s.size();
    out.reserve(out.size() + extra);
    out += buffers_.slide_paths;
    out += buffers_.note_images;
    out += buffers_.relay_images;
    // The arrow written last stands first, beneath the others.
    for (auto it = buffers_.flick_arrows.rbegin(); it != buffers_.flick_arrows.rend(); ++it) {
      out += *it;
    }
    out += buffers_.tick_marks;
    out += buffers_.speed_marks;
  }

  const Drawing& d_;
  const Score& score_;
  const Lyric* lyric_;
  const std::int32_t start_;
  const std::int32_t end_;
  const Fraction top_;
  const double lanes_width_;
  const std::int64_t x_left_;
  const std::int64_t x_right_;
  double width_ = 0;
  double height_ = 0;
  ColumnBuffers buffers_;
  std::string* out_ = nullptr;
};

}  // namespace

ColumnResult render_sentence(const Drawing& drawing, const Score& score, const Lyric* lyric,
                             std::int32_t start, std::int32_t end) {
  return Column(drawing, score, lyric, start, end).render();
}

}  // namespace corvane

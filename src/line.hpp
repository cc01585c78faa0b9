#pragma once
// Chart lines: cutting text into lines, classifying them, the chart
// patterns, the value readers and the items a line yields.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "fraction.hpp"
#include "meta.hpp"
#include "notes/event.hpp"
#include "notes/note.hpp"

namespace corvane {

enum class LineKind : std::uint8_t { Header = 0, Data = 1, Comment = 2 };

struct HiSpeedEntry {
  double speed = 1.0;
  std::int32_t measure = 0;
  std::int32_t tick = 0;
};

namespace item {
// A header line's metadata: a Meta with the one field the key names set, or
// none set when the value does not fit the field.
struct MetaField { corvane::Meta meta; };
struct TicksPerBeat { std::int32_t ticks; };
struct HiSpeed { std::optional<std::int32_t> id; };
struct SpeedTimeline { std::vector<HiSpeedEntry> entries; std::uint32_t id; };
// The event of a bar-length line: its bar and bar length, nothing else.
struct BarLength { corvane::Event event; };
struct BpmDefinition { Fraction value; std::uint32_t id; };
struct BpmChange { Fraction bar; std::uint32_t id; };
struct Note { NoteData note; };
}  // namespace item

using ParsedItem = std::variant<item::MetaField, item::TicksPerBeat, item::HiSpeed,
                                item::SpeedTimeline, item::BarLength, item::BpmDefinition,
                                item::BpmChange, item::Note>;

// The kind of note a note line holds, by the row digit of its key.
enum class NoteRow : std::uint8_t { Tap, Slide, Directional, DecorationSlide };

// One cell of a note line as read: what its note is made of. Lane, channel,
// type and width are base-36 digits (0 to 35), so a cell takes a quarter of
// a note's room; the score builder keeps a chart's cells in this form until
// it knows how many notes to make.
struct NoteCell {
  Fraction bar;
  NoteRow row = NoteRow::Tap;
  std::uint8_t lane = 0;
  std::uint8_t channel = 0;  // slide rows only
  std::uint8_t note_type = 0;
  std::uint8_t width = 0;

  // The unlinked note of this cell.
  NoteData note() const;
};

// Takes the items of a line one at a time, as the reader makes them and in
// the order they apply. Nothing is gathered on the way, so a line of a
// million cells costs no more memory than what the sink keeps of it.
class ItemSink {
 public:
  virtual void take(item::MetaField&& field) = 0;
  virtual void take(const item::TicksPerBeat& ticks) = 0;
  virtual void take(const item::HiSpeed& selection) = 0;
  virtual void take(item::SpeedTimeline&& timeline) = 0;
  virtual void take(item::BarLength&& bar_length) = 0;
  virtual void take(const item::BpmDefinition& definition) = 0;
  virtual void take(const item::BpmChange& change) = 0;
  // A note line first tells how many notes at most follow (half its value's
  // bytes), so that a sink can make room for all of them at once.
  virtual void expect_notes(std::size_t at_most) = 0;
  virtual void take(const NoteCell& cell) = 0;

 protected:
  ~ItemSink() = default;
};

struct Line {
  std::string key;
  std::string value;
  LineKind kind = LineKind::Comment;

  // Classifies one raw line (without its terminator).
  explicit Line(std::string_view raw);
  Line(std::string key, std::string value, LineKind kind)
      : key(std::move(key)), value(std::move(value)), kind(kind) {}

  // Hands the items of this line to sink, in the order they apply. Throws
  // Error for the inputs without a sound result (zero denominator, lone
  // quote mark); the items before it have been handed over by then.
  void parse(ItemSink& sink) const;
  // The same items as a list, notes made from their cells.
  std::vector<ParsedItem> parse() const;
};

// Cuts chart text into lines: LF and CR LF end a line, a lone CR stays.
std::vector<Line> split_lines(std::string_view text);
// Calls f(std::string_view raw_line) for every line, in order.
template <class F>
void for_each_raw_line(std::string_view text, F&& f) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t lf = text.find('\n', start);
    if (lf == std::string_view::npos) {
      f(text.substr(start));
      return;
    }
    std::size_t end = lf;
    if (end > start && text[end - 1] == '\r') --end;
    f(text.substr(start, end - start));
    start = lf + 1;
  }
}

std::uint32_t base36_digit(char32_t c) noexcept;
std::uint32_t base36_two(std::string_view text) noexcept;
// Trims, then removes one enclosing pair of like quote marks. A text that
// trims to a lone quote mark throws Error(ErrorKind::Value).
std::string strip_quotes(std::string_view text);
// strip_quotes without the copy: a view into text.
std::string_view strip_quotes_view(std::string_view text);

struct ScoreCell {
  Fraction position;      // in [0, 1)
  std::string_view cell;  // two code points, a view into the value
};
// Two-character cells of a data value with their positions; "00" skipped.
std::vector<ScoreCell> parse_score_data(std::string_view value);

}  // namespace corvane

#pragma once
// Chart lines: cutting text into lines, classifying them, the chart
// patterns, the value readers and the items a line yields.
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
struct Meta { corvane::Meta meta; };
struct TicksPerBeat { std::int32_t ticks; };
struct HiSpeed { std::optional<std::int32_t> id; };
struct SpeedTimeline { std::vector<HiSpeedEntry> entries; std::uint32_t id; };
struct Event { corvane::Event event; };
struct BpmDefinition { Fraction value; std::uint32_t id; };
struct BpmChange { Fraction bar; std::uint32_t id; };
struct Note { NoteData note; };
}  // namespace item

using ParsedItem = std::variant<item::Meta, item::TicksPerBeat, item::HiSpeed, item::SpeedTimeline,
                                item::Event, item::BpmDefinition, item::BpmChange, item::Note>;

struct Line {
  std::string key;
  std::string value;
  LineKind kind = LineKind::Comment;

  // Classifies one raw line (without its terminator).
  explicit Line(std::string_view raw);
  Line(std::string key, std::string value, LineKind kind)
      : key(std::move(key)), value(std::move(value)), kind(kind) {}

  // The items of this line, in the order they apply. Throws Error for the
  // inputs without a sound result (zero denominator, lone quote mark).
  std::vector<ParsedItem> parse() const;
  // Appends the items to out (lets the score builder reuse one vector).
  void parse_into(std::vector<ParsedItem>& out) const;
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

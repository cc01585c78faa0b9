#include "line.hpp"

#include <algorithm>
#include <new>
#include <string>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include "error.hpp"
#include "numbers.hpp"
#include "unicode.hpp"

namespace corvane {
namespace {

// ---------------------------------------------------------------------------
// Chart patterns
//
// PCRE2's own \w, \d and \s (even with PCRE2_UCP) are not the Unicode word,
// digit and space classes the chart format needs: its \w leaves out marks and
// most connector punctuation and takes in other numbers such as U+00B2. The
// classes are therefore spelled out as properties. "." must not match LF
// whatever newline convention the library was built with, and "$" would also
// match before a final LF, so [^\n] and \A...\z are used instead.
// Possessive runs are used where giving characters back can never produce a
// match (the next item cannot match what was given back); they keep failing
// lines linear.

#define CV_W "[\\p{Alphabetic}\\p{M}\\p{Nd}\\p{Pc}\\x{200C}\\x{200D}]"
#define CV_S "\\p{White_Space}"
#define CV_D "\\p{Nd}"
#define CV_DOT "[^\\n]"

class Pattern {
 public:
  explicit Pattern(const char* text) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    // MATCH_INVALID_UTF: a malformed byte never matches anything instead of
    // being undefined behaviour for the JIT; no per-call validity scan.
    code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(text), PCRE2_ZERO_TERMINATED,
                          PCRE2_UTF | PCRE2_MATCH_INVALID_UTF, &error, &offset, nullptr);
    if (code_ == nullptr) {
      PCRE2_UCHAR buffer[256];
      pcre2_get_error_message(error, buffer, sizeof buffer);
      throw Error(ErrorKind::Runtime, std::string("chart pattern does not compile: ") +
                                          reinterpret_cast<const char*>(buffer));
    }
    // Without JIT support the interpreter serves the same results.
    (void)pcre2_jit_compile(code_, PCRE2_JIT_COMPLETE);
  }
  Pattern(const Pattern&) = delete;
  Pattern& operator=(const Pattern&) = delete;
  // Kept for the life of the process on purpose: no destructor, so no
  // static-destruction-order hazard for late callers.

  const pcre2_code* code() const noexcept { return code_; }

 private:
  pcre2_code* code_ = nullptr;
};

// Each accessor compiles its pattern on first use; function-local statics
// give the thread-safe one-time initialisation.
#define CV_PATTERN(name, text)             \
  const Pattern& name() {                  \
    static const Pattern pattern{text};    \
    return pattern;                        \
  }

CV_PATTERN(header_pattern, "\\A#(" CV_W "++)" CV_S "++(" CV_DOT "*)\\z")
CV_PATTERN(data_pattern, "\\A#(" CV_W "++):" CV_S "*+(" CV_DOT "*)\\z")
CV_PATTERN(ticks_per_beat_pattern, "\\A\"ticks_per_beat" CV_S "++(" CV_D "++)\"\\z")
CV_PATTERN(bar_length_pattern, "\\A(" CV_D "{3})02\\z")
CV_PATTERN(bpm_definition_pattern, "\\ABPM(" CV_DOT CV_DOT ")\\z")
CV_PATTERN(bpm_change_pattern, "\\A(" CV_D "{3})08\\z")
CV_PATTERN(speed_timeline_pattern, "\\ATIL(" CV_DOT CV_DOT ")\\z")
CV_PATTERN(speed_entry_pattern, "(" CV_D "+)'(" CV_D "+):([^" CV_S ",]+)")
CV_PATTERN(tap_pattern, "\\A(" CV_D "{3})1(" CV_DOT ")\\z")
CV_PATTERN(slide_pattern, "\\A(" CV_D "{3})3(" CV_DOT ")(" CV_DOT ")\\z")
CV_PATTERN(directional_pattern, "\\A(" CV_D "{3})5(" CV_DOT ")\\z")
CV_PATTERN(decoration_slide_pattern, "\\A(" CV_D "{3})9(" CV_DOT ")(" CV_DOT ")\\z")

#undef CV_PATTERN
#undef CV_W
#undef CV_S
#undef CV_D
#undef CV_DOT

// One match-data block per thread, large enough for every pattern (at most
// three groups), reused by every match on that thread.
class MatchData {
 public:
  MatchData() : data_(pcre2_match_data_create(4, nullptr)) {
    if (data_ == nullptr) throw std::bad_alloc();
  }
  ~MatchData() { pcre2_match_data_free(data_); }
  MatchData(const MatchData&) = delete;
  MatchData& operator=(const MatchData&) = delete;
  pcre2_match_data* get() const noexcept { return data_; }

 private:
  pcre2_match_data* data_;
};

// The groups of one successful match, as views into the subject. Valid until
// the next match on this thread.
class Match {
 public:
  Match(std::string_view subject, const PCRE2_SIZE* ovector) noexcept
      : subject_(subject), ovector_(ovector) {}
  std::string_view group(int n) const noexcept {
    return subject_.substr(ovector_[2 * n], ovector_[2 * n + 1] - ovector_[2 * n]);
  }
  std::size_t end() const noexcept { return ovector_[1]; }

 private:
  std::string_view subject_;
  const PCRE2_SIZE* ovector_;
};

std::optional<Match> find(const Pattern& pattern, std::string_view subject,
                          std::size_t start = 0) {
  thread_local MatchData match_data;
  // An empty view may carry a null pointer, which this PCRE2 version rejects.
  const char* data = subject.data() != nullptr ? subject.data() : "";
  int rc = pcre2_match(pattern.code(), reinterpret_cast<PCRE2_SPTR>(data), subject.size(), start,
                       0, match_data.get(), nullptr);
  if (rc <= 0) return std::nullopt;  // no match (or an error: treated alike)
  return Match(std::string_view(data, subject.size()),
               pcre2_get_ovector_pointer(match_data.get()));
}

// ---------------------------------------------------------------------------
// Small text helpers

// The ASCII word characters: letters, digits and "_" (no ASCII character is a
// mark or another connector).
bool is_ascii_word_char(char c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

char32_t first_code_point(std::string_view text) noexcept {
  if (text.empty()) return 0;
  std::size_t pos = 0;
  return unicode::next_code_point(text, pos);
}

// Calls f(i, n, cell, first, second) for every two-code-point cell that is
// not "00": the cell starts at code point i of n, so its position is i/n.
// No allocation.
template <class F>
void for_each_cell(std::string_view value, F&& f) {
  if (unicode::all_ascii(value)) {
    const auto n = static_cast<std::int64_t>(value.size());
    for (std::int64_t i = 0; i + 1 < n; i += 2) {
      const char first = value[static_cast<std::size_t>(i)];
      const char second = value[static_cast<std::size_t>(i) + 1];
      if (first == '0' && second == '0') continue;
      f(i, n, value.substr(static_cast<std::size_t>(i), 2), static_cast<char32_t>(first),
        static_cast<char32_t>(second));
    }
    return;
  }
  std::int64_t n = 0;
  for (std::size_t pos = 0; pos < value.size(); ++n) unicode::next_code_point(value, pos);
  std::size_t pos = 0;
  for (std::int64_t i = 0; i + 1 < n; i += 2) {
    const std::size_t start = pos;
    const char32_t first = unicode::next_code_point(value, pos);
    const char32_t second = unicode::next_code_point(value, pos);
    std::string_view cell = value.substr(start, pos - start);
    if (cell == "00") continue;
    f(i, n, cell, first, second);
  }
}

// At most this many cells: a code point takes at least one byte. Exact for
// an ASCII value without "00" cells, the shape of a long dense line.
std::size_t max_cells(std::string_view value) noexcept { return value.size() / 2; }

// Measure of a data key: three Nd digits, 0 unless they are ASCII.
std::int64_t read_measure(std::string_view digits) noexcept {
  return read_decimal<std::int64_t>(digits).value_or(0);
}

// measure + i/n as one reduction (the measure has three digits, so no overflow).
Fraction bar_at(std::int64_t measure, std::int64_t i, std::int64_t n) {
  return Fraction(measure * n + i, n);
}

// ---------------------------------------------------------------------------
// Header lines

void parse_header(const Line& line, ItemSink& sink) {
  // Field names are short ASCII: lower-case ASCII keys on the stack; other
  // keys need the full mapping (U+212A KELVIN SIGN lower-cases to "k").
  char buffer[16];
  std::string lowered;
  std::string_view lower_key;
  if (unicode::all_ascii(line.key)) {
    if (line.key.size() <= sizeof buffer) {
      for (std::size_t i = 0; i < line.key.size(); ++i) {
        buffer[i] = unicode::ascii_lower(line.key[i]);
      }
      lower_key = std::string_view(buffer, line.key.size());
    }
  } else {
    lowered = unicode::to_lower(line.key);
    lower_key = lowered;
  }

  if (!lower_key.empty() && Meta::has_field(lower_key)) {
    const std::string_view value = strip_quotes_view(line.value);
    item::MetaField result{};
    try {
      result.meta.set_field(lower_key, value);
    } catch (const Error& e) {
      if (e.kind() != ErrorKind::ZeroDivision) throw;
      throw Error(ErrorKind::ZeroDivision, "zero denominator in " + std::string(lower_key) +
                                               " '" + std::string(value) + "'");
    }
    sink.take(std::move(result));
    return;
  }

  const std::string_view key = line.key;
  if (key == "REQUEST") {
    if (auto m = find(ticks_per_beat_pattern(), line.value)) {
      if (auto ticks = read_decimal<std::int32_t>(m->group(1))) {
        sink.take(item::TicksPerBeat{*ticks});
      }
    }
  } else if (key == "HISPEED") {
    sink.take(item::HiSpeed{read_radix36<std::int32_t>(line.value).value_or(0)});
  } else if (key == "NOSPEED") {
    sink.take(item::HiSpeed{std::nullopt});
  }
}

// ---------------------------------------------------------------------------
// Data lines

void parse_bpm_definition(std::string_view id_text, std::string_view value, ItemSink& sink) {
  const std::uint32_t id = base36_two(id_text);
  std::optional<Fraction> bpm;
  try {
    bpm = Fraction::parse(value);
  } catch (const Error& e) {
    if (e.kind() != ErrorKind::ZeroDivision) throw;
    throw Error(ErrorKind::ZeroDivision, "zero denominator in BPM definition '" +
                                             std::string(unicode::trim(value)) + "'");
  }
  if (bpm) sink.take(item::BpmDefinition{*bpm, id});
}

void parse_speed_timeline(std::string_view id_text, std::string_view value, ItemSink& sink) {
  item::SpeedTimeline timeline{{}, base36_two(id_text)};
  const std::string_view text = strip_quotes_view(value);
  std::size_t start = 0;
  while (start < text.size()) {
    auto m = find(speed_entry_pattern(), text, start);
    if (!m) break;
    HiSpeedEntry entry;
    entry.measure = read_decimal<std::int32_t>(m->group(1)).value_or(0);
    entry.tick = read_decimal<std::int32_t>(m->group(2)).value_or(0);
    entry.speed = read_float(m->group(3)).value_or(1.0);
    timeline.entries.push_back(entry);
    start = m->end();  // every match is at least four characters long
  }
  std::stable_sort(timeline.entries.begin(), timeline.entries.end(),
                   [](const HiSpeedEntry& a, const HiSpeedEntry& b) {
                     return a.measure != b.measure ? a.measure < b.measure : a.tick < b.tick;
                   });
  sink.take(std::move(timeline));
}

// A base-36 digit is below 36, so it fits a byte.
std::uint8_t digit_of(char32_t c) noexcept { return static_cast<std::uint8_t>(base36_digit(c)); }

void parse_notes(NoteRow row, const Match& m, std::string_view value, ItemSink& sink) {
  const std::int64_t measure = read_measure(m.group(1));
  NoteCell cell;
  cell.row = row;
  cell.lane = digit_of(first_code_point(m.group(2)));
  if (row == NoteRow::Slide || row == NoteRow::DecorationSlide) {
    cell.channel = digit_of(first_code_point(m.group(3)));
  }
  sink.expect_notes(max_cells(value));
  for_each_cell(value, [&](std::int64_t i, std::int64_t n, std::string_view, char32_t first,
                           char32_t second) {
    cell.bar = bar_at(measure, i, n);
    cell.note_type = digit_of(first);
    cell.width = digit_of(second);
    sink.take(cell);
  });
}

// The measure keys, one bit per pattern.
constexpr unsigned kBarLength = 1;
constexpr unsigned kBpmChange = 2;
constexpr unsigned kTap = 4;
constexpr unsigned kSlide = 8;
constexpr unsigned kDirectional = 16;
constexpr unsigned kDecorationSlide = 32;

// The measure-key patterns that can match key. They never overlap, and for
// an ASCII key (one byte per character) its length and the character after
// the measure leave at most one. A key with other characters may hold
// digits or lane letters of other scripts: it tries them all.
unsigned measure_rows(std::string_view key) noexcept {
  if (!unicode::all_ascii(key)) {
    return kBarLength | kBpmChange | kTap | kSlide | kDirectional | kDecorationSlide;
  }
  if (key.size() == 5) {
    switch (key[3]) {
      case '0':
        return key[4] == '2' ? kBarLength : key[4] == '8' ? kBpmChange : 0;
      case '1':
        return kTap;
      case '5':
        return kDirectional;
      default:
        return 0;
    }
  }
  if (key.size() == 6) {
    if (key[3] == '3') return kSlide;
    if (key[3] == '9') return kDecorationSlide;
  }
  return 0;
}

void parse_data(const Line& line, ItemSink& sink) {
  const std::string_view key = line.key;
  const std::string_view value = line.value;

  // Only the BPM and TIL patterns can match a key with these prefixes (a
  // measure starts with a digit), so the other patterns need not be tried.
  if (key.starts_with("BPM")) {
    if (auto m = find(bpm_definition_pattern(), key)) parse_bpm_definition(m->group(1), value, sink);
    return;
  }
  if (key.starts_with("TIL")) {
    if (auto m = find(speed_timeline_pattern(), key)) parse_speed_timeline(m->group(1), value, sink);
    return;
  }

  const unsigned rows = measure_rows(key);
  if ((rows & kBarLength) != 0) {
    if (auto m = find(bar_length_pattern(), key)) {
      item::BarLength result{};
      result.event.bar = Fraction(read_measure(m->group(1)));
      result.event.bar_length =
          Fraction(read_decimal<std::int64_t>(unicode::trim(value)).value_or(4));
      sink.take(std::move(result));
      return;
    }
  }
  if ((rows & kBpmChange) != 0) {
    if (auto m = find(bpm_change_pattern(), key)) {
      const std::int64_t measure = read_measure(m->group(1));
      for_each_cell(value, [&](std::int64_t i, std::int64_t n, std::string_view cell, char32_t,
                               char32_t) {
        sink.take(item::BpmChange{bar_at(measure, i, n), base36_two(cell)});
      });
      return;
    }
  }
  if ((rows & kTap) != 0) {
    if (auto m = find(tap_pattern(), key)) return parse_notes(NoteRow::Tap, *m, value, sink);
  }
  if ((rows & kSlide) != 0) {
    if (auto m = find(slide_pattern(), key)) return parse_notes(NoteRow::Slide, *m, value, sink);
  }
  if ((rows & kDirectional) != 0) {
    if (auto m = find(directional_pattern(), key)) {
      return parse_notes(NoteRow::Directional, *m, value, sink);
    }
  }
  if ((rows & kDecorationSlide) != 0) {
    if (auto m = find(decoration_slide_pattern(), key)) {
      return parse_notes(NoteRow::DecorationSlide, *m, value, sink);
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Lines

Line::Line(std::string_view raw) {
  const std::string_view text = unicode::trim(raw);
  // Both line patterns begin with "#"; anything else is a comment outright.
  if (!text.empty() && text.front() == '#') {
    // The key is a run of word characters; after it, a blank can only begin
    // a header value and a colon only a data value. When the run stops at an
    // ASCII character, that character rules one pattern out.
    std::size_t end = 1;
    while (end < text.size() && is_ascii_word_char(text[end])) ++end;
    const bool ascii_stop = end < text.size() && static_cast<unsigned char>(text[end]) < 0x80;
    const bool colon = ascii_stop && text[end] == ':';
    if (!colon) {
      if (auto m = find(header_pattern(), text)) {
        key.assign(m->group(1));
        value.assign(m->group(2));
        kind = LineKind::Header;
        return;
      }
    }
    if (colon || !ascii_stop) {
      if (auto m = find(data_pattern(), text)) {
        key.assign(m->group(1));
        value.assign(m->group(2));
        kind = LineKind::Data;
        return;
      }
    }
  }
  key = "comment";
  value.assign(text);
  kind = LineKind::Comment;
}

void Line::parse(ItemSink& sink) const {
  switch (kind) {
    case LineKind::Header:
      parse_header(*this, sink);
      break;
    case LineKind::Data:
      parse_data(*this, sink);
      break;
    case LineKind::Comment:
      break;
  }
}

std::vector<ParsedItem> Line::parse() const {
  class Collector final : public ItemSink {
   public:
    explicit Collector(std::vector<ParsedItem>& out) : out_(out) {}
    void take(item::MetaField&& field) override { out_.emplace_back(std::move(field)); }
    void take(const item::TicksPerBeat& ticks) override { out_.emplace_back(ticks); }
    void take(const item::HiSpeed& selection) override { out_.emplace_back(selection); }
    void take(item::SpeedTimeline&& timeline) override { out_.emplace_back(std::move(timeline)); }
    void take(item::BarLength&& bar_length) override { out_.emplace_back(std::move(bar_length)); }
    void take(const item::BpmDefinition& definition) override { out_.emplace_back(definition); }
    void take(const item::BpmChange& change) override { out_.emplace_back(change); }
    void expect_notes(std::size_t count) override { out_.reserve(out_.size() + count); }
    void take(const NoteCell& cell) override { out_.emplace_back(item::Note{cell.note()}); }

   private:
    std::vector<ParsedItem>& out_;
  };
  std::vector<ParsedItem> out;
  Collector collector(out);
  parse(collector);
  return out;
}

std::vector<Line> split_lines(std::string_view text) {
  std::vector<Line> lines;
  lines.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
  for_each_raw_line(text, [&](std::string_view raw) { lines.emplace_back(raw); });
  return lines;
}

// ---------------------------------------------------------------------------
// Value readers

std::uint32_t base36_digit(char32_t c) noexcept {
  if (c >= U'0' && c <= U'9') return static_cast<std::uint32_t>(c - U'0');
  if (c >= U'A' && c <= U'Z') return static_cast<std::uint32_t>(c - U'A') + 10;
  if (c >= U'a' && c <= U'z') return static_cast<std::uint32_t>(c - U'a') + 10;
  return 0;
}

std::uint32_t base36_two(std::string_view text) noexcept {
  if (text.empty()) return 0;
  std::size_t pos = 0;
  const std::uint32_t first = base36_digit(unicode::next_code_point(text, pos));
  if (pos >= text.size()) return first;
  return first * 36 + base36_digit(unicode::next_code_point(text, pos));
}

std::string_view strip_quotes_view(std::string_view text) {
  const std::string_view t = unicode::trim(text);
  if (t.empty()) return t;
  const char q = t.front();
  if (q != '"' && q != '\'') return t;
  // A lone quote mark both opens and closes: there is no pair to remove.
  if (t.size() == 1) throw Error(ErrorKind::Value, "value is a lone quote mark");
  if (t.back() != q) return t;
  return t.substr(1, t.size() - 2);
}

std::string strip_quotes(std::string_view text) { return std::string(strip_quotes_view(text)); }

NoteData NoteCell::note() const {
  NoteBase base;
  base.bar = bar;
  base.lane = lane;
  base.width = width;
  base.note_type = note_type;
  switch (row) {
    case NoteRow::Tap:
      return NoteData::tap(base);
    case NoteRow::Directional:
      return NoteData::make_directional(base);
    case NoteRow::Slide:
      return NoteData::make_slide(base, channel, false);
    case NoteRow::DecorationSlide:
      return NoteData::make_slide(base, channel, true);
  }
  return NoteData::tap(base);  // not reached: every row is handled above
}

std::vector<ScoreCell> parse_score_data(std::string_view value) {
  std::vector<ScoreCell> cells;
  for_each_cell(value, [&](std::int64_t i, std::int64_t n, std::string_view cell, char32_t,
                           char32_t) { cells.push_back(ScoreCell{Fraction(i, n), cell}); });
  return cells;
}

}  // namespace corvane

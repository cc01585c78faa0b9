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

bool is_ascii(std::string_view text) noexcept {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
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
  if (is_ascii(value)) {
    const auto n = static_cast<std::int64_t>(value.size());
    for (std::int64_t i = 0; i + 1 < n; i += 2) {
      std::string_view cell = value.substr(static_cast<std::size_t>(i), 2);
      if (cell == "00") continue;
      f(i, n, cell, static_cast<char32_t>(cell[0]), static_cast<char32_t>(cell[1]));
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

void parse_header(const Line& line, std::vector<ParsedItem>& out) {
  // Field names are short ASCII: lower-case ASCII keys on the stack; other
  // keys need the full mapping (U+212A KELVIN SIGN lower-cases to "k").
  char buffer[16];
  std::string lowered;
  std::string_view lower_key;
  if (is_ascii(line.key)) {
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
    item::Meta result{};
    try {
      result.meta.set_field(lower_key, value);
    } catch (const Error& e) {
      if (e.kind() != ErrorKind::ZeroDivision) throw;
      throw Error(ErrorKind::ZeroDivision, "zero denominator in " + std::string(lower_key) +
                                               " '" + std::string(value) + "'");
    }
    out.emplace_back(std::move(result));
    return;
  }

  const std::string_view key = line.key;
  if (key == "REQUEST") {
    if (auto m = find(ticks_per_beat_pattern(), line.value)) {
      if (auto ticks = read_decimal<std::int32_t>(m->group(1))) {
        out.emplace_back(item::TicksPerBeat{*ticks});
      }
    }
  } else if (key == "HISPEED") {
    out.emplace_back(item::HiSpeed{read_radix36<std::int32_t>(line.value).value_or(0)});
  } else if (key == "NOSPEED") {
    out.emplace_back(item::HiSpeed{std::nullopt});
  }
}

// ---------------------------------------------------------------------------
// Data lines

void parse_bpm_definition(std::string_view id_text, std::string_view value,
                          std::vector<ParsedItem>& out) {
  const std::uint32_t id = base36_two(id_text);
  std::optional<Fraction> bpm;
  try {
    bpm = Fraction::parse(value);
  } catch (const Error& e) {
    if (e.kind() != ErrorKind::ZeroDivision) throw;
    throw Error(ErrorKind::ZeroDivision, "zero denominator in BPM definition '" +
                                             std::string(unicode::trim(value)) + "'");
  }
  if (bpm) out.emplace_back(item::BpmDefinition{*bpm, id});
}

void parse_speed_timeline(std::string_view id_text, std::string_view value,
                          std::vector<ParsedItem>& out) {
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
  out.emplace_back(std::move(timeline));
}

enum class NoteRow : std::uint8_t { Tap, Slide, Directional, DecorationSlide };

void parse_notes(NoteRow row, const Match& m, std::string_view value,
                 std::vector<ParsedItem>& out) {
  const std::int64_t measure = read_measure(m.group(1));
  const std::uint32_t lane = base36_digit(first_code_point(m.group(2)));
  const std::uint32_t channel = (row == NoteRow::Slide || row == NoteRow::DecorationSlide)
                                    ? base36_digit(first_code_point(m.group(3)))
                                    : 0;
  for_each_cell(value, [&](std::int64_t i, std::int64_t n, std::string_view, char32_t first,
                           char32_t second) {
    NoteBase base;
    base.bar = bar_at(measure, i, n);
    base.lane = lane;
    base.width = base36_digit(second);
    base.note_type = base36_digit(first);
    switch (row) {
      case NoteRow::Tap:
        out.emplace_back(item::Note{NoteData::tap(base)});
        break;
      case NoteRow::Directional:
        out.emplace_back(item::Note{NoteData::make_directional(base)});
        break;
      case NoteRow::Slide:
        out.emplace_back(item::Note{NoteData::make_slide(base, channel, false)});
        break;
      case NoteRow::DecorationSlide:
        out.emplace_back(item::Note{NoteData::make_slide(base, channel, true)});
        break;
    }
  });
}

void parse_data(const Line& line, std::vector<ParsedItem>& out) {
  const std::string_view key = line.key;
  const std::string_view value = line.value;

  // Only the BPM and TIL patterns can match a key with these prefixes (a
  // measure starts with a digit), so the other patterns need not be tried.
  if (key.starts_with("BPM")) {
    if (auto m = find(bpm_definition_pattern(), key)) parse_bpm_definition(m->group(1), value, out);
    return;
  }
  if (key.starts_with("TIL")) {
    if (auto m = find(speed_timeline_pattern(), key)) parse_speed_timeline(m->group(1), value, out);
    return;
  }

  if (auto m = find(bar_length_pattern(), key)) {
    item::Event result{};
    result.event.bar = Fraction(read_measure(m->group(1)));
    result.event.bar_length =
        Fraction(read_decimal<std::int64_t>(unicode::trim(value)).value_or(4));
    out.emplace_back(std::move(result));
    return;
  }
  if (auto m = find(bpm_change_pattern(), key)) {
    const std::int64_t measure = read_measure(m->group(1));
    for_each_cell(value, [&](std::int64_t i, std::int64_t n, std::string_view cell, char32_t,
                             char32_t) {
      out.emplace_back(item::BpmChange{bar_at(measure, i, n), base36_two(cell)});
    });
    return;
  }
  if (auto m = find(tap_pattern(), key)) return parse_notes(NoteRow::Tap, *m, value, out);
  if (auto m = find(slide_pattern(), key)) return parse_notes(NoteRow::Slide, *m, value, out);
  if (auto m = find(directional_pattern(), key)) {
    return parse_notes(NoteRow::Directional, *m, value, out);
  }
  if (auto m = find(decoration_slide_pattern(), key)) {
    return parse_notes(NoteRow::DecorationSlide, *m, value, out);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Lines

Line::Line(std::string_view raw) {
  const std::string_view text = unicode::trim(raw);
  // Both line patterns begin with "#"; anything else is a comment outright.
  if (!text.empty() && text.front() == '#') {
    if (auto m = find(header_pattern(), text)) {
      key.assign(m->group(1));
      value.assign(m->group(2));
      kind = LineKind::Header;
      return;
    }
    if (auto m = find(data_pattern(), text)) {
      key.assign(m->group(1));
      value.assign(m->group(2));
      kind = LineKind::Data;
      return;
    }
  }
  key = "comment";
  value.assign(text);
  kind = LineKind::Comment;
}

std::vector<ParsedItem> Line::parse() const {
  std::vector<ParsedItem> out;
  parse_into(out);
  return out;
}

void Line::parse_into(std::vector<ParsedItem>& out) const {
  switch (kind) {
    case LineKind::Header:
      parse_header(*this, out);
      break;
    case LineKind::Data:
      parse_data(*this, out);
      break;
    case LineKind::Comment:
      break;
  }
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

std::vector<ScoreCell> parse_score_data(std::string_view value) {
  std::vector<ScoreCell> cells;
  for_each_cell(value, [&](std::int64_t i, std::int64_t n, std::string_view cell, char32_t,
                           char32_t) { cells.push_back(ScoreCell{Fraction(i, n), cell}); });
  return cells;
}

}  // namespace corvane

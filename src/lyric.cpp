#include "lyric.hpp"

#include <cstdint>

#include "error.hpp"
#include "line.hpp"
#include "numbers.hpp"
#include "unicode.hpp"

namespace corvane {

namespace {

// Matches a trimmed line against "^(\d+): (.*)$" with Unicode digits and, on
// success, appends its words. A hand matcher gives the same answers as the
// pattern: the line holds no line feed, so "(.*)$" takes the whole rest, and
// a subject that is not valid UTF-8 never matches.
void read_line(std::string_view line, std::vector<Word>& words) {
  if (line.empty() || !unicode::is_valid_utf8(line)) return;

  std::size_t pos = 0;
  std::size_t digits_end = 0;
  while (pos < line.size()) {
    std::size_t next = pos;
    if (!unicode::is_decimal_digit(unicode::next_code_point(line, next))) break;
    pos = next;
    digits_end = pos;
  }
  if (digits_end == 0) return;
  if (line.size() - digits_end < 2 || line[digits_end] != ':' || line[digits_end + 1] != ' ') return;

  // Digits of other scripts match the pattern but do not read: base 0, as
  // for a value beyond the 64-bit range.
  const Fraction base{read_decimal<std::int64_t>(line.substr(0, digits_end)).value_or(0)};
  const std::string_view rest = line.substr(digits_end + 2);

  std::int64_t parts = 1;
  for (char c : rest) parts += c == '/';

  std::int64_t k = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t slash = rest.find('/', start);
    const std::size_t end = slash == std::string_view::npos ? rest.size() : slash;
    if (end > start) {
      // A base bar near the i64 limit cannot hold base + k/n; such a word is
      // dropped rather than failing the whole text.
      try {
        Fraction bar = k == 0 ? base : base + Fraction(k, parts);
        words.push_back(Word{std::string(rest.substr(start, end - start)), bar});
      } catch (const Error& e) {
        if (e.kind() != ErrorKind::Overflow) throw;
      }
    }
    if (slash == std::string_view::npos) break;
    start = slash + 1;
    ++k;
  }
}

}  // namespace

Lyric Lyric::load(std::string_view text) {
  Lyric lyric;
  // Cut like chart text: LF and CR LF end a line.
  for_each_raw_line(text, [&](std::string_view line) {
    read_line(unicode::trim(line), lyric.words);
  });
  return lyric;
}

}  // namespace corvane

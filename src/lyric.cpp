#include "lyric.hpp"

#include <charconv>
#include <cstdint>

#include "error.hpp"
#include "unicode.hpp"

namespace corvane {

namespace {

// Base bar of a line: an ASCII decimal that fits in i64, otherwise 0 (digits
// of other scripts match the line pattern but do not count).
std::int64_t parse_base(std::string_view digits) noexcept {
  std::int64_t value = 0;
  const char* first = digits.data();
  const char* last = first + digits.size();
  auto res = std::from_chars(first, last, value);
  if (res.ec != std::errc() || res.ptr != last) return 0;
  return value;
}

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

  const Fraction base{parse_base(line.substr(0, digits_end))};
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
  std::size_t pos = 0;
  while (true) {
    const std::size_t nl = text.find('\n', pos);
    std::string_view line =
        text.substr(pos, (nl == std::string_view::npos ? text.size() : nl) - pos);
    if (nl != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    read_line(unicode::trim(line), lyric.words);
    if (nl == std::string_view::npos) break;
    pos = nl + 1;
  }
  return lyric;
}

}  // namespace corvane

#include "numbers.hpp"

#include <charconv>
#include <system_error>

#include "unicode.hpp"

namespace corvane {

namespace {

constexpr bool is_ascii_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// `lower` is lower-case ASCII; only ASCII letters fold, whatever the locale.
bool equals_ascii_nocase(std::string_view text, std::string_view lower) noexcept {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (unicode::ascii_lower(text[i]) != lower[i]) return false;
  }
  return true;
}

}  // namespace

std::optional<double> read_float(std::string_view text) noexcept {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (equals_ascii_nocase(text, "inf") || equals_ascii_nocase(text, "infinity")) {
    return negative ? -std::numeric_limits<double>::infinity()
                    : std::numeric_limits<double>::infinity();
  }
  if (equals_ascii_nocase(text, "nan")) {
    return negative ? -std::numeric_limits<double>::quiet_NaN()
                    : std::numeric_limits<double>::quiet_NaN();
  }

  // The grammar is checked here because from_chars alone would accept
  // "nan(...)" and stop silently before trailing text. Where the first
  // significant digit sits tells overflow from underflow below.
  std::size_t p = 0;
  std::size_t digits = 0;
  std::int64_t magnitude_exp = 0;  // decimal exponent of the first significant digit, +1
  bool significant = false;
  for (; p < text.size() && is_ascii_digit(text[p]); ++p, ++digits) {
    if (significant || text[p] != '0') {
      significant = true;
      ++magnitude_exp;
    }
  }
  if (p < text.size() && text[p] == '.') {
    for (++p; p < text.size() && is_ascii_digit(text[p]); ++p, ++digits) {
      if (!significant) {
        if (text[p] == '0') {
          --magnitude_exp;
        } else {
          significant = true;
        }
      }
    }
  }
  if (digits == 0) return std::nullopt;
  if (p < text.size() && (text[p] == 'e' || text[p] == 'E')) {
    ++p;
    bool exp_negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
      exp_negative = text[p] == '-';
      ++p;
    }
    std::size_t exp_digits = 0;
    std::int64_t exponent = 0;
    for (; p < text.size() && is_ascii_digit(text[p]); ++p, ++exp_digits) {
      // Saturate: anything this large already decides overflow or underflow.
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (text[p] - '0');
    }
    if (exp_digits == 0) return std::nullopt;
    magnitude_exp += exp_negative ? -exponent : exponent;
  }
  if (p != text.size()) return std::nullopt;

  double value = 0.0;
  const char* const last = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), last, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // The nearest double of a value beyond the range: infinity or zero.
    value = magnitude_exp > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (ec != std::errc{} || ptr != last) {
    return std::nullopt;
  }
  return negative ? -value : value;
}

char* write_int(char* first, std::int64_t value) noexcept {
  return std::to_chars(first, first + kMaxIntegerChars, value).ptr;
}

char* write_int(char* first, std::uint64_t value) noexcept {
  return std::to_chars(first, first + kMaxIntegerChars, value).ptr;
}

void append_shortest_positional(std::string& out, double value) {
  // Shortest round-trip digits in scientific form, then laid out positionally.
  char buf[40];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  const std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
  const std::size_t e_pos = sci.find('e');
  if (e_pos == std::string_view::npos) {  // inf or nan: no positional form exists
    out.append(sci);
    return;
  }
  std::string_view mantissa = sci.substr(0, e_pos);
  if (mantissa.front() == '-') {
    out.push_back('-');
    mantissa.remove_prefix(1);
  }
  char digits[24];  // at most 17 significant digits
  std::size_t n = 0;
  for (char c : mantissa) {
    if (c != '.') digits[n++] = c;
  }
  int exponent = 0;
  std::string_view exp_text = sci.substr(e_pos + 1);
  if (exp_text.front() == '+') exp_text.remove_prefix(1);
  std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);

  // The decimal point follows the first `point` digits.
  const long point = static_cast<long>(exponent) + 1;
  const long count = static_cast<long>(n);
  if (point <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-point), '0');
    out.append(digits, n);
  } else if (point >= count) {
    out.append(digits, n);
    out.append(static_cast<std::size_t>(point - count), '0');
  } else {
    out.append(digits, static_cast<std::size_t>(point));
    out.push_back('.');
    out.append(digits + point, static_cast<std::size_t>(count - point));
  }
}

}  // namespace corvane

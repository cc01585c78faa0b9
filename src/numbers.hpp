#pragma once
// Number text shared by the chart, fraction, lyric, rebase and drawing code.
// The readers take the whole text in an exact grammar: no trimming, no
// locale, no partial reads, and nothing out of range.
#include <concepts>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace corvane {

namespace numbers_detail {

// One optional '+' or '-', then one or more digits of Base (2 to 36; the
// letters a-z in either case count 10 to 35) and nothing else, with the value
// in T's range. So "+-5", "--5", " 5" and "5 " all fail. The radix is a
// template argument so that the decimal reader compiles to a plain loop.
template <class T, unsigned Base>
std::optional<T> read_signed_integer(std::string_view text) noexcept {
  static_assert(std::is_signed_v<T> && sizeof(T) <= sizeof(std::uint64_t));
  static_assert(Base >= 2 && Base <= 36);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  // A second sign is not a digit, so it fails like any other character.
  std::uint64_t magnitude = 0;
  for (const char c : text) {
    unsigned digit = Base;  // not a digit
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if constexpr (Base > 10) {
      if (c >= 'a' && c <= 'z') {
        digit = static_cast<unsigned>(c - 'a') + 10;
      } else if (c >= 'A' && c <= 'Z') {
        digit = static_cast<unsigned>(c - 'A') + 10;
      }
    }
    if (digit >= Base) return std::nullopt;
    if (__builtin_mul_overflow(magnitude, std::uint64_t{Base}, &magnitude) ||
        __builtin_add_overflow(magnitude, std::uint64_t{digit}, &magnitude)) {
      return std::nullopt;
    }
  }
  const auto max = static_cast<std::uint64_t>(std::numeric_limits<T>::max());
  if (!negative) {
    if (magnitude > max) return std::nullopt;
    return static_cast<T>(magnitude);
  }
  if (magnitude > max + 1) return std::nullopt;
  if (magnitude == max + 1) return std::numeric_limits<T>::min();
  return static_cast<T>(-static_cast<T>(magnitude));
}

}  // namespace numbers_detail

// Decimal integer: one optional '+' or '-', then one or more ASCII digits and
// nothing else, in T's range.
template <class T>
std::optional<T> read_decimal(std::string_view text) noexcept {
  return numbers_detail::read_signed_integer<T, 10>(text);
}

// Radix-36 integer: one optional '+' or '-', then one or more of 0-9 and
// the letters a-z in either case (10 to 35), nothing else, in T's range.
template <class T>
std::optional<T> read_radix36(std::string_view text) noexcept {
  return numbers_detail::read_signed_integer<T, 36>(text);
}

// Float: optional sign, then either digits with an optional point and
// fraction (at least one digit in all: "2", "2.", ".5") followed by an
// optional exponent ("e" or "E", optional sign, one or more digits), or one
// of inf / infinity / nan in any ASCII case. Nothing else: no hexadecimal
// form, no "nan(...)", no white space. The value is the nearest double; a
// literal beyond the double range gives the infinity or zero of its sign.
std::optional<double> read_float(std::string_view text) noexcept;

// The shortest decimal text that reads back as the same double, laid out
// positionally, never with an exponent: 1e21 gives a 1 and 21 zeros, 1e-7
// gives 0.0000001, -0.0 gives -0. Non-finite values are written as
// std::to_chars writes them ("inf", "-inf", "nan", "-nan"); callers with
// their own spelling handle them first.
void append_shortest_positional(std::string& out, double value);

// The longest decimal text of a 64-bit integer: 20 digits, or a sign and 19.
inline constexpr std::size_t kMaxIntegerChars = 20;

// Decimal text of an integer ("-" for negatives, no "+", no leading zeros)
// written at `first`, which has room for kMaxIntegerChars; returns its end.
// The one integer writer of the project. Out of line: the renderer writes
// most of its numbers through these, and a body of its own keeps the digit
// loop of std::to_chars inlined in it.
char* write_int(char* first, std::int64_t value) noexcept;
char* write_int(char* first, std::uint64_t value) noexcept;

// write_int appended to a text, without a temporary.
template <std::integral T>
void append_int(std::string& out, T value) {
  static_assert(!std::is_same_v<T, bool>, "a flag is not a number");
  static_assert(sizeof(T) <= sizeof(std::uint64_t));
  char buf[kMaxIntegerChars];
  using Wide = std::conditional_t<std::is_signed_v<T>, std::int64_t, std::uint64_t>;
  char* const end = write_int(buf, static_cast<Wide>(value));
  out.append(buf, static_cast<std::size_t>(end - buf));
}

}  // namespace corvane

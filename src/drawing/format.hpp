#pragma once
// Number forms and escaping of the SVG document. The append_* forms write
// into an existing buffer without temporaries.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "numbers.hpp"

namespace corvane {

namespace format_detail {
std::int64_t round_even_wide(double v) noexcept;
}  // namespace format_detail

// Round half to even; NaN gives 0; out-of-range values saturate. Every
// coordinate goes through here, so the common case is inline: below 2^52 in
// magnitude, adding and taking away 2^52 (with v's sign) rounds v to an
// integer, ties to even, under the default rounding mode, which nothing in
// the module changes. Larger magnitudes are integers already.
inline std::int64_t round_even(double v) noexcept {
  constexpr double kTwo52 = 4503599627370496.0;
  if (!(std::fabs(v) < kTwo52)) return format_detail::round_even_wide(v);
  const double shift = std::copysign(kTwo52, v);
  return static_cast<std::int64_t>((v + shift) - shift);
}
// round_even(v) written as a decimal integer.
void append_round(std::string& out, double v);
// Shortest round-trip text, positional, never an exponent.
void append_shortest(std::string& out, double v);
std::string shortest(double v);
// Exactly `decimals` digits after the point, correctly rounded.
void append_fixed(std::string& out, double v, int decimals);
std::string fixed(double v, int decimals);
// At most six significant digits, %g-like with the exponent rule.
void append_format_g(std::string& out, double v);
std::string format_g(double v);
// & < > " escaped, in that order. Characters that XML cannot hold at all
// (C0 controls other than tab, LF and CR; U+FFFE, U+FFFF) become U+FFFD.
void append_escaped(std::string& out, std::string_view text);
std::string escape_xml(std::string_view text);
// The same written at `dst`, which has room for 6 bytes per input byte;
// returns the end of what was written.
char* copy_escaped(char* dst, std::string_view text) noexcept;
// escape_xml(text).size(), without building it.
std::size_t escaped_size(std::string_view text) noexcept;

}  // namespace corvane

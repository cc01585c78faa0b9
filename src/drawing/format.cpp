#include "drawing/format.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <limits>
#include <system_error>

#include "numbers.hpp"

namespace corvane {

namespace {

// Large enough for any double in positional form with up to 100 decimals:
// 309 integer digits, sign, point.
constexpr int kStackDecimals = 100;
constexpr std::size_t kFixedBuffer = 420;

bool append_special(std::string& out, double v) {
  if (std::isnan(v)) {
    out += "NaN";
    return true;
  }
  if (std::isinf(v)) {
    out += v > 0 ? "inf" : "-inf";
    return true;
  }
  return false;
}

// Binary powering, so the result matches across platforms bit for bit.
double power_of_ten(std::int32_t e) noexcept {
  std::uint64_t n = e < 0 ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(e))
                          : static_cast<std::uint64_t>(e);
  double result = 1.0;
  double power = 10.0;
  while (n != 0) {
    if ((n & 1U) != 0) result *= power;
    n >>= 1U;
    if (n != 0) power *= power;
  }
  return e < 0 ? 1.0 / result : result;
}

std::int32_t decimal_exponent(double x) noexcept {
  const double l = std::floor(std::log10(std::fabs(x)));
  if (std::isnan(l)) return 0;
  if (l >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (l <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(l);
}

// Drops trailing '0's, then trailing '.'s, from out[from..].
void trim_fraction(std::string& out, std::size_t from) {
  std::size_t n = out.size();
  while (n > from && out[n - 1] == '0') --n;
  while (n > from && out[n - 1] == '.') --n;
  out.resize(n);
}

}  // namespace

std::int64_t format_detail::round_even_wide(double v) noexcept {
  if (std::isnan(v)) return 0;
  if (std::isinf(v)) {
    return v > 0 ? std::numeric_limits<std::int64_t>::max()
                 : std::numeric_limits<std::int64_t>::min();
  }
  // At 2^52 and above a double has no fraction.
  if (v >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
  if (v < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(v);
}

void append_round(std::string& out, double v) { append_int(out, round_even(v)); }

void append_shortest(std::string& out, double v) {
  if (append_special(out, v)) return;
  append_shortest_positional(out, v);
}

std::string shortest(double v) {
  std::string s;
  append_shortest(s, v);
  return s;
}

void append_fixed(std::string& out, double v, int decimals) {
  if (append_special(out, v)) return;
  if (decimals < 0) decimals = 0;
  if (decimals <= kStackDecimals) {
    char buf[kFixedBuffer];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    out.append(buf, static_cast<std::size_t>(r.ptr - buf));
    return;
  }
  std::string buf(kFixedBuffer + static_cast<std::size_t>(decimals), '\0');
  const auto r =
      std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::fixed, decimals);
  out.append(buf.data(), r.ptr);
}

std::string fixed(double v, int decimals) {
  std::string s;
  append_fixed(s, v, decimals);
  return s;
}

void append_format_g(std::string& out, double x) {
  if (x == 0.0) {
    out += '0';
    return;
  }
  const std::int32_t e = decimal_exponent(x);
  const std::size_t from = out.size();
  if (e >= -4 && e <= 5) {
    append_fixed(out, x, 5 - e);
    if (out.find('.', from) != std::string::npos) trim_fraction(out, from);
    return;
  }
  // The exponent stays the one chosen from x, even when the mantissa rounds
  // up to 10.
  const double mantissa = x / power_of_ten(e);
  append_fixed(out, mantissa, 5);
  trim_fraction(out, from);
  const std::int64_t mag = e < 0 ? -static_cast<std::int64_t>(e) : e;
  out += e < 0 ? "e-" : "e+";
  if (mag < 10) out += '0';
  append_int(out, mag);
}

std::string format_g(double v) {
  std::string s;
  append_format_g(s, v);
  return s;
}

namespace {

// The one escaping rule: calls keep(from, count) for each run of bytes that
// stays as it is and put(replacement) for each character replaced, in order.
template <class Keep, class Put>
inline void scan_escapes(std::string_view text, Keep keep, Put put) {
  const char* const data = text.data();
  const std::size_t size = text.size();
  std::size_t run = 0;
  for (std::size_t i = 0; i < size; ++i) {
    const auto c = static_cast<unsigned char>(data[i]);
    std::string_view rep;
    std::size_t skip = 1;
    switch (c) {
      case '&': rep = "&amp;"; break;
      case '<': rep = "&lt;"; break;
      case '>': rep = "&gt;"; break;
      case '"': rep = "&quot;"; break;
      case '\t':
      case '\n':
      case '\r':
        continue;
      case 0xEF:
        // U+FFFE and U+FFFF are not XML characters either.
        if (i + 2 < size && static_cast<unsigned char>(data[i + 1]) == 0xBF &&
            (static_cast<unsigned char>(data[i + 2]) & 0xFEU) == 0xBE) {
          rep = "\xEF\xBF\xBD";
          skip = 3;
          break;
        }
        continue;
      default:
        // Control characters cannot appear in an XML document, not even as
        // character references: write the replacement character instead.
        if (c < 0x20) {
          rep = "\xEF\xBF\xBD";
          break;
        }
        continue;
    }
    keep(data + run, i - run);
    put(rep);
    i += skip - 1;
    run = i + 1;
  }
  keep(data + run, size - run);
}

}  // namespace

void append_escaped(std::string& out, std::string_view text) {
  scan_escapes(
      text, [&](const char* from, std::size_t n) { out.append(from, n); },
      [&](std::string_view rep) { out.append(rep); });
}

char* copy_escaped(char* dst, std::string_view text) noexcept {
  scan_escapes(
      text,
      [&](const char* from, std::size_t n) {
        std::memcpy(dst, from, n);
        dst += n;
      },
      [&](std::string_view rep) {
        std::memcpy(dst, rep.data(), rep.size());
        dst += rep.size();
      });
  return dst;
}

// What each byte adds when escaped, by the rule of scan_escapes: an entity
// for & < > ", three bytes of U+FFFD for a control character. U+FFFE and
// U+FFFF become U+FFFD of the same length, so their bytes add nothing.
constexpr std::array<std::uint8_t, 256> kEscapeGrowth = [] {
  std::array<std::uint8_t, 256> growth{};
  for (unsigned c = 0; c < 0x20; ++c) growth[c] = 2;
  growth['\t'] = growth['\n'] = growth['\r'] = 0;
  growth['&'] = 4;
  growth['<'] = 3;
  growth['>'] = 3;
  growth['"'] = 5;
  return growth;
}();

// A caller's text can be hundreds of megabytes: one table lookup a byte.
std::size_t escaped_size(std::string_view text) noexcept {
  std::size_t n = text.size();
  for (const char c : text) n += kEscapeGrowth[static_cast<unsigned char>(c)];
  return n;
}

std::string escape_xml(std::string_view text) {
  std::string s;
  s.reserve(text.size());
  append_escaped(s, text);
  return s;
}

}  // namespace corvane

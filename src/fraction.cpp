#include "fraction.hpp"

#include <cmath>
#include <cstdint>
#include <limits>

#include "error.hpp"
#include "fraction_wide.hpp"
#include "numbers.hpp"
#include "unicode.hpp"

namespace corvane {

namespace {

using fraction_detail::gcd;
using fraction_detail::i128;
using fraction_detail::magnitude;
using fraction_detail::Ratio;
using fraction_detail::ratio_of;
using fraction_detail::u64;

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr u64 kMinMagnitude = u64(1) << 63;  // |INT64_MIN|

[[noreturn]] void throw_zero_denominator(std::int64_t numerator) {
  std::string message = "Fraction(";
  append_int(message, numerator);
  message += ", 0)";
  throw Error(ErrorKind::ZeroDivision, message);
}

[[noreturn]] void throw_overflow(const char* operation) {
  throw Error(ErrorKind::Overflow,
              std::string(operation) + " result does not fit in a 64-bit fraction");
}

// Reduction of n/d (d != 0) to lowest terms with a positive denominator;
// false when the reduced value leaves the fields, which happens only with
// n = INT64_MIN or d = INT64_MIN.
inline bool reduce(std::int64_t n, std::int64_t d, Ratio<std::int64_t>& out) noexcept {
  if (n == 0) {
    out = {0, 1};
    return true;
  }
  if (n == d) {
    out = {1, 1};
    return true;
  }
  u64 mn = magnitude(n);
  u64 md = magnitude(d);
  const u64 g = gcd(mn, md);
  mn /= g;
  md /= g;
  if (md > u64(kMax)) return false;
  if ((n < 0) != (d < 0)) {
    if (mn > kMinMagnitude) return false;
    out.n = mn == kMinMagnitude ? kMin : -static_cast<std::int64_t>(mn);
  } else {
    if (mn > u64(kMax)) return false;
    out.n = static_cast<std::int64_t>(mn);
  }
  out.d = static_cast<std::int64_t>(md);
  return true;
}

// One of the four operations on two fractions, exact: at 64 bits, and when
// an intermediate overflows there, again at 128 bits, where the products of
// 64-bit fields always fit; that result must then fit the fields. `op` is
// one of the ratio_* operations, called at either width.
template <class Op>
Ratio<std::int64_t> exactly(Fraction a, Fraction b, Op op, const char* operation) {
  if (Ratio<std::int64_t> r; op(ratio_of<std::int64_t>(a), ratio_of<std::int64_t>(b), r)) {
    return r;
  }
  Ratio<i128> wide;
  Ratio<std::int64_t> r;
  if (!op(ratio_of<i128>(a), ratio_of<i128>(b), wide) || !fraction_detail::narrow(wide, r)) {
    throw_overflow(operation);
  }
  return r;
}

}  // namespace

Fraction::Fraction(std::int64_t numerator, std::int64_t denominator) {
  if (denominator == 0) throw_zero_denominator(numerator);
  Ratio<std::int64_t> r;
  if (!reduce(numerator, denominator, r)) {
    std::string message = "Fraction(";
    append_int(message, numerator);
    message += ", ";
    append_int(message, denominator);
    message += ") does not fit in a 64-bit fraction";
    throw Error(ErrorKind::Overflow, message);
  }
  num_ = r.n;
  den_ = r.d;
}

Fraction Fraction::add(Fraction o) const {
  const auto r = exactly(
      *this, o, [](auto a, auto b, auto& out) { return fraction_detail::ratio_add(a, b, out); },
      "Fraction addition");
  return Fraction(Raw{}, r.n, r.d);
}

Fraction Fraction::sub(Fraction o) const {
  const auto r = exactly(
      *this, o, [](auto a, auto b, auto& out) { return fraction_detail::ratio_sub(a, b, out); },
      "Fraction subtraction");
  return Fraction(Raw{}, r.n, r.d);
}

Fraction Fraction::mul(Fraction o) const {
  const auto r = exactly(
      *this, o, [](auto a, auto b, auto& out) { return fraction_detail::ratio_mul(a, b, out); },
      "Fraction multiplication");
  return Fraction(Raw{}, r.n, r.d);
}

Fraction Fraction::div(Fraction o) const {
  // Named like the reciprocal of the divisor, as Python's fractions module does.
  if (o.num_ == 0) throw_zero_denominator(o.den_);
  const auto r = exactly(
      *this, o, [](auto a, auto b, auto& out) { return fraction_detail::ratio_div(a, b, out); },
      "Fraction division");
  return Fraction(Raw{}, r.n, r.d);
}

std::strong_ordering operator<=>(Fraction a, Fraction b) noexcept {
  if (a.den_ == b.den_) return a.num_ <=> b.num_;
  // Cross products of two 64-bit values always fit in 128 bits, so this is
  // exact and cannot overflow; denominators are positive.
  const __int128 lhs = static_cast<__int128>(a.num_) * b.den_;
  const __int128 rhs = static_cast<__int128>(b.num_) * a.den_;
  return lhs <=> rhs;
}

std::int64_t Fraction::floor() const noexcept {
  // The quotient-and-remainder form of (n - d + 1) / d, which cannot overflow.
  std::int64_t q = num_ / den_;
  if (num_ % den_ != 0 && num_ < 0) --q;
  return q;
}

std::int64_t Fraction::ceil() const noexcept {
  std::int64_t q = num_ / den_;
  if (num_ % den_ != 0 && num_ > 0) ++q;
  return q;
}

Fraction Fraction::limit_denominator(std::int64_t max_denominator) const {
  if (max_denominator < 1) {
    throw Error(ErrorKind::Value, "max_denominator should be at least 1");
  }
  // Every convergent of a value in lowest terms fits its fields, so this
  // fails only defensively.
  std::int64_t n, d;
  if (!fraction_detail::closest_fraction(num_, den_, max_denominator, n, d)) {
    throw_overflow("Fraction.limit_denominator");
  }
  return Fraction(Raw{}, n, d);
}

std::optional<Fraction> Fraction::approximate_float(double value) noexcept {
  constexpr double kTwo63 = 9223372036854775808.0;
  if (std::isnan(value) || std::fabs(value) > kTwo63) return std::nullopt;
  const double v = std::fabs(value);
  double q = v;
  std::int64_t n0 = 0, d0 = 1, n1 = 1, d1 = 0;
  constexpr std::int64_t M = kMax;
  const double eps = 1.0 / static_cast<double>(M);
  for (int round = 0; round < 30; ++round) {
    if (!(q < kTwo63)) break;
    const auto a = static_cast<std::int64_t>(q);
    const double r = q - static_cast<double>(a);
    // Stop before the next convergent would overflow.
    if (a != 0 && (n1 > M / a || d1 > M / a || a * n1 > M - n0 || a * d1 > M - d0)) break;
    const std::int64_t n = a * n1 + n0;
    const std::int64_t d = a * d1 + d0;
    n0 = n1;
    d0 = d1;
    const auto g = static_cast<std::int64_t>(gcd(u64(n), u64(d)));
    if (g != 0) {
      n1 = n / g;
      d1 = d / g;
    } else {
      n1 = n;
      d1 = d;
    }
    if (std::fabs(static_cast<double>(n) / static_cast<double>(d) - v) < 1e-19) break;
    if (r < eps) break;
    q = 1.0 / r;
  }
  if (d1 == 0) return std::nullopt;
  Ratio<std::int64_t> p;
  reduce(n1, d1, p);
  if (std::signbit(value)) p.n = -p.n;  // n1 <= INT64_MAX, so negation is safe
  if (p.n == 0) p = {0, 1};
  return Fraction(Raw{}, p.n, p.d);
}

Fraction Fraction::from_f64(double value) noexcept {
  if (auto f = approximate_float(value)) return *f;
  if (std::isnan(value)) return Fraction(0);
  // Saturating truncation toward zero.
  if (value >= 9223372036854775808.0) return Fraction(kMax);
  if (value <= -9223372036854775808.0) return Fraction(kMin);
  return Fraction(static_cast<std::int64_t>(value));
}

std::optional<Fraction> Fraction::parse(std::string_view text) {
  const std::string_view s = unicode::trim(text);
  const std::size_t slash = s.find('/');
  if (slash != std::string_view::npos) {
    const auto n = read_decimal<std::int64_t>(unicode::trim(s.substr(0, slash)));
    if (!n) return std::nullopt;
    const auto d = read_decimal<std::int64_t>(unicode::trim(s.substr(slash + 1)));
    if (!d) return std::nullopt;
    if (*d == 0) throw_zero_denominator(*n);
    Ratio<std::int64_t> r;
    // Both parts are in range, but -2^63 over a negative odd number is not:
    // like an out-of-range part, it reads as nothing.
    if (!reduce(*n, *d, r)) return std::nullopt;
    return Fraction(Raw{}, r.n, r.d);
  }
  if (const auto n = read_decimal<std::int64_t>(s)) return Fraction(*n);
  if (const auto v = read_float(s)) return from_f64(*v);
  return std::nullopt;
}

void Fraction::fmt_to(std::string& out) const {
  if (den_ == 1) {
    append_int(out, num_);
    out += '.';
    return;
  }
  const std::int64_t whole = num_ / den_;
  if (whole != 0) {
    append_int(out, whole);
    out += ".+";
  }
  // The remainder (the numerator itself below one) keeps the value's sign
  // and is already in lowest terms.
  append_int(out, num_ % den_);
  out += '/';
  append_int(out, den_);
}

std::string Fraction::fmt() const {
  std::string out;
  out.reserve(48);
  fmt_to(out);
  return out;
}

std::size_t Fraction::hash() const noexcept {
  // Fields are canonical, so hashing them hashes the value.
  u64 h = u64(num_) * 0x9E3779B97F4A7C15ull;
  h ^= u64(den_) + 0x632BE59BD9B4E019ull + (h << 6) + (h >> 2);
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  return static_cast<std::size_t>(h);
}

}  // namespace corvane

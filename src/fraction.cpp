#include "fraction.hpp"

#include <charconv>
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
using fraction_detail::u64;

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr u64 kMinMagnitude = u64(1) << 63;  // |INT64_MIN|

struct Parts {
  std::int64_t n = 0;
  std::int64_t d = 1;
};

// Gcd of a value and a positive denominator: at most that denominator, so
// it always fits back into a signed 64-bit integer.
inline std::int64_t gcd_with_den(std::int64_t v, std::int64_t den) noexcept {
  return static_cast<std::int64_t>(gcd(magnitude(v), u64(den)));
}

std::string int_text(std::int64_t v) {
  char buf[24];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

[[noreturn]] void throw_zero_denominator(std::int64_t numerator) {
  throw Error(ErrorKind::ZeroDivision, "Fraction(" + int_text(numerator) + ", 0)");
}

[[noreturn]] void throw_overflow(const char* operation) {
  throw Error(ErrorKind::Overflow,
              std::string(operation) + " result does not fit in a 64-bit fraction");
}

// Signs and magnitudes back to fields; false when either does not fit
// (a positive 2^63 numerator, or a 2^63 denominator).
inline bool from_magnitudes(bool negative, u64 mn, u64 md, Parts& out) noexcept {
  if (md > u64(kMax)) return false;
  if (negative) {
    if (mn > kMinMagnitude) return false;
    out.n = mn == kMinMagnitude ? kMin : -static_cast<std::int64_t>(mn);
  } else {
    if (mn > u64(kMax)) return false;
    out.n = static_cast<std::int64_t>(mn);
  }
  out.d = static_cast<std::int64_t>(md);
  return true;
}

// Reduction of n/d (d != 0) to lowest terms with a positive denominator, at
// the width of the candidates; false when the reduced value leaves the 64-bit
// fields. 64-bit candidates fail only with n = INT64_MIN or d = INT64_MIN;
// 128-bit ones serve the rare operations whose 64-bit intermediate products
// overflow while the reduced result may still fit (they come from products
// of two 64-bit values, so their magnitudes stay below 2^127).
template <class Int>
inline bool reduce_to_fields(Int n, Int d, Parts& out) noexcept {
  if (n == 0) {
    out = {0, 1};
    return true;
  }
  if (n == d) {
    out = {1, 1};
    return true;
  }
  auto mn = magnitude(n);
  auto md = magnitude(d);
  const auto g = gcd(mn, md);
  mn /= g;
  md /= g;
  if constexpr (sizeof(Int) > sizeof(std::int64_t)) {
    if ((mn >> 64) != 0 || (md >> 64) != 0) return false;
  }
  return from_magnitudes((n < 0) != (d < 0), static_cast<u64>(mn), static_cast<u64>(md), out);
}

inline bool reduce64(std::int64_t n, std::int64_t d, Parts& out) noexcept {
  return reduce_to_fields(n, d, out);
}
inline bool reduce128(i128 n, i128 d, Parts& out) noexcept { return reduce_to_fields(n, d, out); }

// a/b + c/d, or a/b - c/d, reduced. Equal denominators need no product;
// otherwise the least common denominator is used. When a 64-bit step
// overflows, the sum is redone in 128 bits; false when the reduced result
// does not fit.
template <bool Subtract>
inline bool sum_parts(std::int64_t a, std::int64_t b, std::int64_t c, std::int64_t d,
                      Parts& r) noexcept {
  const auto combine64 = [](std::int64_t x, std::int64_t y, std::int64_t* out) {
    if constexpr (Subtract) {
      return __builtin_sub_overflow(x, y, out);
    } else {
      return __builtin_add_overflow(x, y, out);
    }
  };
  const auto combine128 = [](i128 x, i128 y) {
    if constexpr (Subtract) {
      return x - y;
    } else {
      return x + y;
    }
  };
  if (b == d) {
    std::int64_t s;
    if (!combine64(a, c, &s)) {
      reduce64(s, b, r);  // a positive denominator always fits
      return true;
    }
    return reduce128(combine128(a, c), b, r);
  }
  const std::int64_t g = gcd_with_den(b, d);
  const std::int64_t lb = d / g;  // l / b
  const std::int64_t ld = b / g;  // l / d
  std::int64_t l, x, y, s;
  if (!__builtin_mul_overflow(b, lb, &l) && !__builtin_mul_overflow(a, lb, &x) &&
      !__builtin_mul_overflow(c, ld, &y) && !combine64(x, y, &s)) {
    reduce64(s, l, r);
    return true;
  }
  return reduce128(combine128(i128(a) * lb, i128(c) * ld), i128(b) * lb, r);
}

struct FloorDiv {
  std::int64_t quotient;
  std::int64_t remainder;  // 0 <= remainder < divisor
};

// Floored division by a positive divisor.
inline FloorDiv floor_div(std::int64_t x, std::int64_t y) noexcept {
  std::int64_t q = x / y;
  std::int64_t r = x % y;
  if (r < 0) {
    --q;
    r += y;
  }
  return {q, r};
}

}  // namespace

Fraction::Fraction(std::int64_t numerator, std::int64_t denominator) {
  if (denominator == 0) throw_zero_denominator(numerator);
  Parts r;
  if (!reduce64(numerator, denominator, r)) {
    throw Error(ErrorKind::Overflow, "Fraction(" + int_text(numerator) + ", " +
                                         int_text(denominator) +
                                         ") does not fit in a 64-bit fraction");
  }
  num_ = r.n;
  den_ = r.d;
}

Fraction Fraction::add(Fraction o) const {
  Parts r;
  if (!sum_parts<false>(num_, den_, o.num_, o.den_, r)) throw_overflow("Fraction addition");
  return Fraction(Raw{}, r.n, r.d);
}

Fraction Fraction::sub(Fraction o) const {
  Parts r;
  if (!sum_parts<true>(num_, den_, o.num_, o.den_, r)) throw_overflow("Fraction subtraction");
  return Fraction(Raw{}, r.n, r.d);
}

Fraction Fraction::mul(Fraction o) const {
  // Cross-reduction first: (p/q) * (q/p) never overflows.
  const std::int64_t g1 = gcd_with_den(num_, o.den_);
  const std::int64_t g2 = gcd_with_den(o.num_, den_);
  const std::int64_t a = num_ / g1;
  const std::int64_t c = o.num_ / g2;
  const std::int64_t b = den_ / g2;
  const std::int64_t d = o.den_ / g1;
  std::int64_t n, m;
  // Both operands are in lowest terms, so after cross-reduction the product
  // is too (and zero comes out as 0/1): no further gcd is needed.
  if (!__builtin_mul_overflow(a, c, &n) && !__builtin_mul_overflow(b, d, &m)) {
    return Fraction(Raw{}, n, m);
  }
  Parts r;
  if (!reduce128(i128(a) * c, i128(b) * d, r)) throw_overflow("Fraction multiplication");
  return Fraction(Raw{}, r.n, r.d);
}

Fraction Fraction::div(Fraction o) const {
  // Named like the reciprocal of the divisor, as Python's fractions module does.
  if (o.num_ == 0) throw_zero_denominator(o.den_);
  if (num_ == 0) return Fraction();
  const std::int64_t g1 = static_cast<std::int64_t>(gcd(magnitude(num_), magnitude(o.num_)));
  const std::int64_t g2 = gcd_with_den(den_, o.den_);
  // With a zero dividend handled, g1 can be 2^63 only when both numerators
  // are INT64_MIN: then the quotient is den_ / o.den_, computed directly.
  if (g1 < 0) {
    Parts r;
    reduce64(o.den_, den_, r);
    return Fraction(Raw{}, r.n, r.d);
  }
  const std::int64_t a = num_ / g1;
  const std::int64_t c = o.num_ / g1;
  const std::int64_t b = den_ / g2;
  const std::int64_t d = o.den_ / g2;
  std::int64_t n, m;
  // As in mul, the cross-reduced quotient is already in lowest terms; only
  // the divisor's sign has to move to the numerator.
  if (!__builtin_mul_overflow(a, d, &n) && !__builtin_mul_overflow(b, c, &m)) {
    if (m > 0) return Fraction(Raw{}, n, m);
    std::int64_t nn, nm;
    if (!__builtin_sub_overflow(0, n, &nn) && !__builtin_sub_overflow(0, m, &nm)) {
      return Fraction(Raw{}, nn, nm);
    }
  }
  Parts r;
  if (!reduce128(i128(a) * d, i128(b) * c, r)) throw_overflow("Fraction division");
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
  Parts p;
  reduce64(n1, d1, p);
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
    Parts r;
    // Both parts are in range, but -2^63 over a negative odd number is not:
    // like an out-of-range part, it reads as nothing.
    if (!reduce64(*n, *d, r)) return std::nullopt;
    return Fraction(Raw{}, r.n, r.d);
  }
  if (const auto n = read_decimal<std::int64_t>(s)) return Fraction(*n);
  if (const auto v = read_float(s)) return from_f64(*v);
  return std::nullopt;
}

void Fraction::fmt_to(std::string& out) const {
  char buf[72];
  char* p = buf;
  char* const end = buf + sizeof buf;
  const std::int64_t whole = num_ / den_;
  if (den_ == 1) {
    p = std::to_chars(p, end, num_).ptr;
    *p++ = '.';
  } else if (whole == 0) {
    p = std::to_chars(p, end, num_).ptr;
    *p++ = '/';
    p = std::to_chars(p, end, den_).ptr;
  } else {
    p = std::to_chars(p, end, whole).ptr;
    *p++ = '.';
    *p++ = '+';
    // The remainder keeps the value's sign and is already in lowest terms.
    p = std::to_chars(p, end, num_ % den_).ptr;
    *p++ = '/';
    p = std::to_chars(p, end, den_).ptr;
  }
  out.append(buf, p);
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

#pragma once
// Internal to the core: the integer steps behind Fraction's exact arithmetic,
// the one checked rational arithmetic of the project. Fraction's operations
// run on them, and so does the timing code, which forms bar values wider
// than 64 bits before bounding their denominators. Not part of the Fraction
// interface.
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "fraction.hpp"

namespace corvane::fraction_detail {

using u64 = std::uint64_t;
using u128 = unsigned __int128;
using i128 = __int128;

// |v| without the undefined negation of the most negative value.
inline u64 magnitude(std::int64_t v) noexcept { return v < 0 ? u64(0) - u64(v) : u64(v); }
inline u128 magnitude(i128 v) noexcept { return v < 0 ? u128(0) - u128(v) : u128(v); }

// Binary gcd; gcd(x, 0) = x. The 64-bit operations meet operands of like
// sizes, which its subtraction loop suits.
inline u64 gcd(u64 a, u64 b) noexcept {
  if (a == 0) return b;
  if (b == 0) return a;
  const int shift = __builtin_ctzll(a | b);
  a >>= __builtin_ctzll(a);
  do {
    b >>= __builtin_ctzll(b);
    if (a > b) std::swap(a, b);
    b -= a;
  } while (b != 0);
  return a << shift;
}

// Euclid's gcd; gcd(x, 0) = x. The 128-bit operations mostly meet operands
// of very different sizes (a from_f64 denominator near 10^14 against a
// tempo's or a bar's), which one remainder step settles where the binary
// loop would take a round per bit; the steps drop to 64 bits once both fit.
inline u128 gcd(u128 a, u128 b) noexcept {
  while (((a | b) >> 64) != 0) {
    if (b == 0) return a;
    const u128 r = a % b;
    a = b;
    b = r;
  }
  u64 x = static_cast<u64>(a);
  u64 y = static_cast<u64>(b);
  while (y != 0) {
    const u64 r = x % y;
    x = y;
    y = r;
  }
  return x;
}

// n/d (d > 0) to lowest terms. The gcd is at most d, so it fits Int.
template <class Int>
void reduce_positive_den(Int& n, Int& d) noexcept {
  const auto g = gcd(magnitude(n), decltype(magnitude(n))(d));
  if (g > 1) {
    n /= static_cast<Int>(g);
    d /= static_cast<Int>(g);
  }
}

// The closest fraction to n/d (d > 0) whose denominator is at most bound
// (>= 1), in lowest terms: the continued-fraction convergents of n/d, then
// the better of the last convergent and the best semiconvergent, compared as
// doubles with a tie going to the convergent. False when an intermediate
// leaves Int; the caller says what that means. Used at 64 bits by
// Fraction::limit_denominator and at 128 bits for bars found from a time.
template <class Int>
bool closest_fraction(Int n, Int d, Int bound, Int& out_n, Int& out_d) noexcept {
  if (d <= bound) {
    out_n = n;
    out_d = d;
    return true;
  }
  Int p0 = 0, q0 = 1, p1 = 1, q1 = 0;
  Int x = n, y = d;
  for (;;) {
    // Floored quotient and remainder (y > 0 throughout).
    Int a = x / y;
    Int r = x % y;
    if (r < 0) {
      --a;
      r += y;
    }
    Int t, q2, p2;
    if (__builtin_mul_overflow(a, q1, &t) || __builtin_add_overflow(q0, t, &q2)) return false;
    if (q2 > bound) break;
    if (__builtin_mul_overflow(a, p1, &t) || __builtin_add_overflow(p0, t, &p2)) return false;
    p0 = p1;
    q0 = q1;
    p1 = p2;
    q1 = q2;
    x = y;
    y = r;
    if (y == 0) break;
  }
  // q1 >= 1 here: the first round always gives q2 = 1 <= bound.
  const Int k = (bound - q0) / q1;
  Int kp, kq, n1, d1;
  if (__builtin_mul_overflow(k, p1, &kp) || __builtin_add_overflow(p0, kp, &n1) ||
      __builtin_mul_overflow(k, q1, &kq) || __builtin_add_overflow(q0, kq, &d1)) {
    return false;
  }
  Int n2 = p1, d2 = q1;
  reduce_positive_den(n1, d1);
  reduce_positive_den(n2, d2);
  const double v = static_cast<double>(n) / static_cast<double>(d);
  const double e1 = static_cast<double>(n1) / static_cast<double>(d1) - v;
  const double e2 = static_cast<double>(n2) / static_cast<double>(d2) - v;
  if (std::fabs(e2) <= std::fabs(e1)) {
    out_n = n2;
    out_d = d2;
  } else {
    out_n = n1;
    out_d = d1;
  }
  return true;
}

// --- Checked exact ratios ------------------------------------------------------
//
// Exact fractions at the width Int (64 or 128 bits) whose every step is
// checked: an operation returns false when an intermediate or its result
// leaves Int, and never throws. Fraction's four operations run on them, and
// the timing code forms values such as t + L x 60 / B x (bar - b) with them;
// both first at 64 bits and, when that fails, again at 128 bits. A result is
// the exact value in lowest terms, so both widths agree wherever both
// succeed.

template <class Int>
struct Ratio {
  Int n = 0;
  Int d = 1;  // > 0, coprime with n
};

template <class Int>
using unsigned_of = decltype(magnitude(Int{}));

// A Fraction's fields, already in lowest terms, at the width Int.
template <class Int>
Ratio<Int> ratio_of(Fraction f) noexcept {
  return {Int(f.numerator()), Int(f.denominator())};
}

// Inputs in lowest terms: after cross-reduction the product is too.
template <class Int>
bool ratio_mul(Ratio<Int> a, Ratio<Int> b, Ratio<Int>& out) noexcept {
  if (a.n == 0 || b.n == 0) {
    out = {0, 1};
    return true;
  }
  using U = unsigned_of<Int>;
  // Each gcd is at most a denominator, so it fits Int. Divisions are skipped
  // where there is nothing to cancel: they cost more than the test.
  const U g1 = b.d == 1 ? U(1) : gcd(magnitude(a.n), U(b.d));
  const U g2 = a.d == 1 ? U(1) : gcd(magnitude(b.n), U(a.d));
  if (g1 > 1) {
    a.n /= static_cast<Int>(g1);
    b.d /= static_cast<Int>(g1);
  }
  if (g2 > 1) {
    b.n /= static_cast<Int>(g2);
    a.d /= static_cast<Int>(g2);
  }
  Int n, d;
  if (__builtin_mul_overflow(a.n, b.n, &n) || __builtin_mul_overflow(a.d, b.d, &d)) {
    return false;
  }
  out = {n, d};
  return true;
}

// False also for a zero divisor.
template <class Int>
bool ratio_div(Ratio<Int> a, Ratio<Int> b, Ratio<Int>& out) noexcept {
  if (b.n == 0) return false;
  Ratio<Int> inverse{b.d, b.n};
  if (b.n < 0) {
    if (__builtin_sub_overflow(Int(0), b.n, &inverse.d)) return false;
    inverse.n = -b.d;
  }
  return ratio_mul(a, inverse, out);
}

// a + b, or a - b, over the least common denominator. With g the gcd of the
// two denominators, the sum shares with that denominator only factors of g,
// so the final gcd runs on g rather than on the wide sum.
template <class Int, bool Subtract>
bool ratio_sum(Ratio<Int> a, Ratio<Int> b, Ratio<Int>& out) noexcept {
  using U = unsigned_of<Int>;
  const U g = a.d == b.d ? U(a.d) : gcd(U(a.d), U(b.d));
  const Int lb = g == 1 ? b.d : b.d / static_cast<Int>(g);  // l / a.d
  const Int la = g == 1 ? a.d : a.d / static_cast<Int>(g);  // l / b.d
  Int l, x, y, s;
  if (__builtin_mul_overflow(a.d, lb, &l) || __builtin_mul_overflow(a.n, lb, &x) ||
      __builtin_mul_overflow(b.n, la, &y)) {
    return false;
  }
  if constexpr (Subtract) {
    if (__builtin_sub_overflow(x, y, &s)) return false;
  } else {
    if (__builtin_add_overflow(x, y, &s)) return false;
  }
  if (s == 0) {
    out = {0, 1};
    return true;
  }
  if (g > 1) {
    const U common = gcd(magnitude(s) % g, g);
    if (common > 1) {
      s /= static_cast<Int>(common);
      l /= static_cast<Int>(common);
    }
  }
  out = {s, l};
  return true;
}

template <class Int>
bool ratio_add(Ratio<Int> a, Ratio<Int> b, Ratio<Int>& out) noexcept {
  return ratio_sum<Int, false>(a, b, out);
}

template <class Int>
bool ratio_sub(Ratio<Int> a, Ratio<Int> b, Ratio<Int>& out) noexcept {
  return ratio_sum<Int, true>(a, b, out);
}

// The fields of a 128-bit ratio at 64 bits; false when either does not fit.
inline bool narrow(Ratio<i128> r, Ratio<std::int64_t>& out) noexcept {
  constexpr i128 lo = std::numeric_limits<std::int64_t>::min();
  constexpr i128 hi = std::numeric_limits<std::int64_t>::max();
  if (r.n < lo || r.n > hi || r.d > hi) return false;
  out = {static_cast<std::int64_t>(r.n), static_cast<std::int64_t>(r.d)};
  return true;
}

// The value as a double, numerator over denominator, as Fraction::to_double.
template <class Int>
double ratio_to_double(Ratio<Int> r) noexcept {
  return static_cast<double>(r.n) / static_cast<double>(r.d);
}

}  // namespace corvane::fraction_detail

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "error.hpp"
#include "fraction.hpp"
#include "fraction_wide.hpp"

using corvane::Error;
using corvane::ErrorKind;
using corvane::Fraction;

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

using i128 = __int128;

Fraction F(std::int64_t n, std::int64_t d = 1) { return Fraction(n, d); }

void expect_fields(Fraction f, std::int64_t n, std::int64_t d) {
  EXPECT_EQ(f.numerator(), n);
  EXPECT_EQ(f.denominator(), d);
}

template <typename Fn>
ErrorKind error_kind(Fn&& fn, std::string* message = nullptr) {
  try {
    fn();
  } catch (const Error& e) {
    if (message) *message = e.what();
    return e.kind();
  }
  ADD_FAILURE() << "no corvane::Error thrown";
  return ErrorKind::Runtime;
}

// --- an independent 128-bit reference ---------------------------------------

i128 abs128(i128 v) { return v < 0 ? -v : v; }

i128 gcd_ref(i128 a, i128 b) {
  a = abs128(a);
  b = abs128(b);
  while (b != 0) {
    const i128 t = a % b;
    a = b;
    b = t;
  }
  return a;
}

// The exact value n/d reduced, or nothing when it does not fit 64 bits.
std::optional<std::pair<std::int64_t, std::int64_t>> ref_reduce(i128 n, i128 d) {
  if (d < 0) {
    n = -n;
    d = -d;
  }
  const i128 g = gcd_ref(n, d);
  n /= g;
  d /= g;
  if (n < kMin || n > kMax || d > kMax) return std::nullopt;
  return std::make_pair(static_cast<std::int64_t>(n), static_cast<std::int64_t>(d));
}

i128 floor_ref(i128 n, i128 d) {
  i128 q = n / d;
  if (n % d != 0 && ((n < 0) != (d < 0))) --q;
  return q;
}

// Operation results must be exact when the reduced value fits, and an
// Overflow error otherwise; never a wrong value.
struct Outcomes {
  int exact = 0;
  int overflow = 0;
};

template <typename Op>
void check_against(Op op, Fraction a, Fraction b, i128 n, i128 d, const char* name,
                   Outcomes& seen) {
  const auto expected = ref_reduce(n, d);
  (expected ? seen.exact : seen.overflow)++;
  try {
    const Fraction got = op(a, b);
    ASSERT_TRUE(expected.has_value())
        << name << " " << a.fmt() << " , " << b.fmt() << " gave " << got.fmt();
    ASSERT_EQ(got.numerator(), expected->first) << name << " " << a.fmt() << " , " << b.fmt();
    ASSERT_EQ(got.denominator(), expected->second) << name << " " << a.fmt() << " , " << b.fmt();
  } catch (const Error& e) {
    ASSERT_EQ(e.kind(), ErrorKind::Overflow) << e.what();
    ASSERT_FALSE(expected.has_value()) << name << " " << a.fmt() << " , " << b.fmt()
                                       << " threw though the result fits";
  }
}

class Sampler {
 public:
  explicit Sampler(std::uint64_t seed) : rng_(seed) {}

  std::int64_t integer() {
    switch (pick(6)) {
      case 0:
        return static_cast<std::int64_t>(pick(41)) - 20;  // small
      case 1:
        return kMax - static_cast<std::int64_t>(pick(5));  // near the top
      case 2:
        return kMin + static_cast<std::int64_t>(pick(5));  // near the bottom
      case 3: {                                            // +-2^k +- small
        const std::int64_t p = std::int64_t(1) << pick(63);
        const std::int64_t v = p + static_cast<std::int64_t>(pick(3)) - 1;
        return pick(2) ? v : -v;
      }
      case 4:
        return static_cast<std::int64_t>(rng_());  // any 64-bit value
      default: {                                   // random bit length
        const unsigned bits = 1 + static_cast<unsigned>(pick(62));
        const auto v = static_cast<std::int64_t>(rng_() >> (64 - bits));
        return pick(2) ? v : -v;
      }
    }
  }

  Fraction fraction() {
    for (;;) {
      const std::int64_t n = integer();
      std::int64_t d = integer();
      if (d == 0) continue;
      if (pick(4) == 0) d = 1;
      try {
        return Fraction(n, d);
      } catch (const Error&) {  // INT64_MIN over a negative odd number
      }
    }
  }

 private:
  std::uint64_t pick(std::uint64_t n) { return rng_() % n; }
  std::mt19937_64 rng_;
};

}  // namespace

// --- construction and errors ---------------------------------------------

TEST(FractionConstruct, ReducesAndNormalisesTheSign) {
  expect_fields(F(6, 4), 3, 2);
  expect_fields(F(1, -2), -1, 2);
  expect_fields(F(-6, -4), 3, 2);
  expect_fields(F(0, 5), 0, 1);
  expect_fields(F(0, -5), 0, 1);
  expect_fields(F(-7, -7), 1, 1);
  expect_fields(F(kMin, kMin), 1, 1);
  expect_fields(F(kMin, 2), kMin / 2, 1);
  expect_fields(F(2, kMin), -1, std::int64_t(1) << 62);
  expect_fields(F(kMax, kMax), 1, 1);
  expect_fields(Fraction(7), 7, 1);
  expect_fields(Fraction(), 0, 1);
}

TEST(FractionConstruct, ErrorsNameTheValue) {
  std::string msg;
  EXPECT_EQ(error_kind([] { F(1, 0); }, &msg), ErrorKind::ZeroDivision);
  EXPECT_EQ(msg, "Fraction(1, 0)");
  EXPECT_EQ(error_kind([] { F(-6, 0); }, &msg), ErrorKind::ZeroDivision);
  EXPECT_EQ(msg, "Fraction(-6, 0)");
  EXPECT_EQ(error_kind([] { F(0, 0); }), ErrorKind::ZeroDivision);
  // -2^63 over -1, or any odd negative number, needs +2^63.
  EXPECT_EQ(error_kind([] { F(kMin, -1); }), ErrorKind::Overflow);
  EXPECT_EQ(error_kind([] { F(kMin, -3); }), ErrorKind::Overflow);
  expect_fields(F(kMin, -2), std::int64_t(1) << 62, 1);
  // A denominator of 2^63 has no positive 64-bit form.
  EXPECT_EQ(error_kind([] { F(1, kMin); }), ErrorKind::Overflow);
  EXPECT_EQ(error_kind([] { F(-3, kMin); }, &msg), ErrorKind::Overflow);
  EXPECT_EQ(msg, "Fraction(-3, -9223372036854775808) does not fit in a 64-bit fraction");
}

// --- arithmetic ----------------------------------------------------------

TEST(FractionArithmetic, SmallExamples) {
  EXPECT_EQ(F(1, 2) + F(1, 2), F(1));
  EXPECT_EQ(F(1, 6) + F(1, 3), F(1, 2));
  EXPECT_EQ(F(1, 2) - F(1, 2), F(0));
  expect_fields(F(1, 2) - F(1, 2), 0, 1);
  EXPECT_EQ(F(2, 3) * F(3, 2), F(1));
  EXPECT_EQ(F(1, 2) / F(-1, 4), F(-2));
  EXPECT_EQ(F(-3, 4) * F(0), F(0));
  expect_fields(F(0) / F(-5, 7), 0, 1);
}

TEST(FractionArithmetic, CrossReductionAvoidsOverflow) {
  const Fraction p(kMax, kMax - 1);
  EXPECT_EQ(p * F(kMax - 1, kMax), F(1));
  EXPECT_EQ(p / p, F(1));
  EXPECT_EQ(F(kMin) / F(kMin), F(1));
  EXPECT_EQ(F(kMin, 3) / F(kMin, 5), F(5, 3));
  EXPECT_EQ(F(kMin) * F(1, 2), F(kMin / 2));
  // Equal denominators add without multiplying.
  EXPECT_EQ(F(kMax - 1, 1000000007) + F(1, 1000000007), F(kMax, 1000000007));
}

TEST(FractionArithmetic, ExactResultsSurviveOverflowingIntermediates) {
  // (2^62 + 1)/2 twice: the numerator sum overflows, the result fits.
  const std::int64_t h = (std::int64_t(1) << 62) + 1;
  EXPECT_EQ(F(h, 2) + F(h, 2), F(h));
  EXPECT_EQ(F(-h, 2) - F(h, 2), F(-h));
}

TEST(FractionArithmetic, OverflowThrowsInsteadOfWrapping) {
  EXPECT_EQ(error_kind([] { F(kMax) + F(1); }), ErrorKind::Overflow);
  EXPECT_EQ(error_kind([] { F(kMin) - F(1); }), ErrorKind::Overflow);
  EXPECT_EQ(error_kind([] { F(kMin) * F(-1); }), ErrorKind::Overflow);
  EXPECT_EQ(error_kind([] { F(kMin) / F(-1); }), ErrorKind::Overflow);
  EXPECT_EQ(error_kind([] { F(1, kMax) + F(1, kMax - 1); }), ErrorKind::Overflow);
  EXPECT_EQ(error_kind([] { F(kMax) * F(kMax); }), ErrorKind::Overflow);
  EXPECT_EQ(error_kind([] { F(1, kMax) / F(kMax); }), ErrorKind::Overflow);
}

TEST(FractionArithmetic, OverflowMessagesNameTheOperation) {
  std::string msg;
  error_kind([] { F(kMax) + F(1); }, &msg);
  EXPECT_EQ(msg, "Fraction addition result does not fit in a 64-bit fraction");
  error_kind([] { F(kMin) - F(1, 3); }, &msg);
  EXPECT_EQ(msg, "Fraction subtraction result does not fit in a 64-bit fraction");
  error_kind([] { F(kMax) * F(3, 2); }, &msg);
  EXPECT_EQ(msg, "Fraction multiplication result does not fit in a 64-bit fraction");
  error_kind([] { F(1, kMax) / F(kMax); }, &msg);
  EXPECT_EQ(msg, "Fraction division result does not fit in a 64-bit fraction");
}

TEST(FractionArithmetic, DivisionByZeroIsZeroDivision) {
  std::string msg;
  EXPECT_EQ(error_kind([] { F(1, 2) / F(0); }, &msg), ErrorKind::ZeroDivision);
  EXPECT_EQ(msg, "Fraction(1, 0)");
  EXPECT_EQ(error_kind([] { F(0) / F(0); }), ErrorKind::ZeroDivision);
}

TEST(FractionArithmetic, ZeroAndTheMostNegativeInteger) {
  EXPECT_EQ(F(0) / F(kMin), F(0));
  EXPECT_EQ(F(0) * F(kMin), F(0));
  EXPECT_EQ(F(0) - F(kMin, 2), F(std::int64_t(1) << 62));
  EXPECT_EQ(error_kind([] { F(0) - F(kMin, 3); }), ErrorKind::Overflow);  // +2^63 / 3
}

TEST(FractionArithmetic, MatchesA128BitReferenceOnRandomValues) {
  Sampler s(0x5eed'f00d'1234ull);
  Outcomes seen;
  for (int i = 0; i < 60000; ++i) {
    const Fraction a = s.fraction();
    const Fraction b = s.fraction();
    const i128 an = a.numerator(), ad = a.denominator();
    const i128 bn = b.numerator(), bd = b.denominator();
    check_against(std::plus<>(), a, b, an * bd + bn * ad, ad * bd, "add", seen);
    check_against(std::minus<>(), a, b, an * bd - bn * ad, ad * bd, "sub", seen);
    check_against(std::multiplies<>(), a, b, an * bn, ad * bd, "mul", seen);
    if (!b.is_zero()) check_against(std::divides<>(), a, b, an * bd, ad * bn, "div", seen);

    const i128 lhs = an * bd, rhs = bn * ad;
    const auto expected = lhs < rhs ? std::strong_ordering::less
                          : lhs > rhs ? std::strong_ordering::greater
                                      : std::strong_ordering::equal;
    ASSERT_EQ(a <=> b, expected) << a.fmt() << " <=> " << b.fmt();
    ASSERT_EQ(a == b, lhs == rhs);

    ASSERT_EQ(i128(a.floor()), floor_ref(an, ad)) << a.fmt();
    ASSERT_EQ(i128(a.ceil()), -floor_ref(-an, ad)) << a.fmt();
    if (testing::Test::HasFatalFailure()) return;
  }
  // The sampler must reach both sides of the 64-bit limit.
  EXPECT_GT(seen.exact, 50000);
  EXPECT_GT(seen.overflow, 50000);
}

// --- ordering, hashing, floor and ceiling ----------------------------------

TEST(FractionOrder, ComparesCloseValuesNearTheLimits) {
  // 1 - 1/(M-1) < 1 - 1/M, and 1 + 1/(M-1) < 1 + 1/(M-2): cross products overflow.
  EXPECT_LT(F(kMax - 2, kMax - 1), F(kMax - 1, kMax));
  EXPECT_LT(F(kMax, kMax - 1), F(kMax - 1, kMax - 2));
  EXPECT_GT(F(-(kMax - 2), kMax - 1), F(-(kMax - 1), kMax));
  EXPECT_LT(F(kMin, kMax), F(kMin + 1, kMax));
  EXPECT_LT(F(-1, 3), F(-1, 4));
  EXPECT_GT(F(1, 3), F(1, 4));
  EXPECT_EQ(F(6, 4) <=> F(3, 2), std::strong_ordering::equal);
  EXPECT_LT(F(kMin), F(kMax));
  EXPECT_LT(F(kMin, kMax - 1), F(-1));
}

TEST(FractionHash, EqualValuesHashAlike) {
  EXPECT_EQ(F(6, 4).hash(), F(3, 2).hash());
  EXPECT_EQ((F(1, 4) + F(5, 4)).hash(), F(3, 2).hash());
  EXPECT_EQ(F(0, 7).hash(), Fraction().hash());
  std::unordered_set<Fraction, corvane::FractionHash> set;
  for (int n = -50; n <= 50; ++n) {
    for (int d = 1; d <= 50; ++d) set.insert(F(n, d));
  }
  for (int n = -50; n <= 50; ++n) EXPECT_EQ(set.count(F(2 * n, 2)), 1u);
  EXPECT_EQ(set.count(F(1, 51)), 0u);
}

TEST(FractionFloorCeil, Examples) {
  EXPECT_EQ(F(-7, 2).floor(), -4);
  EXPECT_EQ(F(-7, 2).ceil(), -3);
  EXPECT_EQ(F(7, 2).floor(), 3);
  EXPECT_EQ(F(7, 2).ceil(), 4);
  EXPECT_EQ(F(-1, 2).floor(), -1);
  EXPECT_EQ(F(-1, 2).ceil(), 0);
  for (std::int64_t v : {std::int64_t(0), std::int64_t(5), std::int64_t(-5), kMax, kMin}) {
    EXPECT_EQ(F(v).floor(), v);
    EXPECT_EQ(F(v).ceil(), v);
  }
  // The textbook formulas (n - d + 1) / d and (n + d - 1) / d overflow here.
  EXPECT_EQ(F(kMin + 2, kMax).floor(), -1);
  EXPECT_EQ(F(kMin, kMax).floor(), -2);
  EXPECT_EQ(F(kMax - 1, kMax).ceil(), 1);
  EXPECT_EQ(F(kMax, kMax - 1).ceil(), 2);
}

// --- limit_denominator -----------------------------------------------------

TEST(FractionLimit, Examples) {
  const Fraction pi(3141592653589793, 1000000000000000);
  EXPECT_EQ(pi.limit_denominator(10), F(22, 7));
  EXPECT_EQ(pi.limit_denominator(100), F(311, 99));
  EXPECT_EQ(pi.limit_denominator(1000000), F(3126535, 995207));
  EXPECT_EQ(F(1, 2).limit_denominator(1), F(0));  // a tie goes to the last convergent
  EXPECT_EQ(F(3, 4).limit_denominator(1), F(1));
  EXPECT_EQ(F(1, 1000).limit_denominator(100), F(0));
  EXPECT_EQ(F(5, 7).limit_denominator(7), F(5, 7));
  EXPECT_EQ(F(-1, 3).limit_denominator(2), F(-1, 2));
  EXPECT_EQ(F(1, 3).limit_denominator(2), F(1, 2));
  EXPECT_EQ(F(-3, 4).limit_denominator(1), F(-1));
  EXPECT_EQ(F(kMin + 1, 2).limit_denominator(1), F(kMin / 2));
  EXPECT_EQ(F(kMax, kMax - 1).limit_denominator(1000000000), F(1));
}

TEST(FractionLimit, BoundBelowOneIsAValueError) {
  for (std::int64_t bound : {std::int64_t(0), std::int64_t(-1), kMin}) {
    std::string msg;
    EXPECT_EQ(error_kind([&] { F(1, 3).limit_denominator(bound); }, &msg), ErrorKind::Value);
    EXPECT_EQ(msg, "max_denominator should be at least 1");
  }
  // Also when the value already has denominator 1.
  EXPECT_EQ(error_kind([] { F(3).limit_denominator(0); }), ErrorKind::Value);
}

TEST(FractionLimit, FindsTheClosestFractionUnderTheBound) {
  std::mt19937_64 rng(42);
  for (int i = 0; i < 3000; ++i) {
    const auto n = static_cast<std::int64_t>(rng() % 2000001) - 1000000;
    const auto d = static_cast<std::int64_t>(rng() % 100000) + 1;
    const auto bound = static_cast<std::int64_t>(rng() % 40) + 1;
    const Fraction v(n, d);
    const Fraction got = v.limit_denominator(bound);
    ASSERT_LE(got.denominator(), bound);
    // |got - v| <= |p/q - v| for the best p of every q <= bound, exactly.
    const auto dist = [&](i128 p, i128 q) {
      return abs128(p * v.denominator() - i128(v.numerator()) * q);  // scaled by q*d
    };
    const i128 got_dist = dist(got.numerator(), got.denominator());
    for (std::int64_t q = 1; q <= bound; ++q) {
      const i128 p = floor_ref(i128(v.numerator()) * q, v.denominator());
      for (i128 cand : {p, p + 1}) {
        ASSERT_LE(got_dist * q, dist(cand, q) * got.denominator())
            << v.fmt() << " bound " << bound << " gave " << got.fmt();
      }
    }
  }
}

// The gcd at both widths, against Euclid's written out; at 128 bits also
// where operands and result leave 64 bits.
TEST(FractionGcd, BothWidthsAgreeWithEuclid) {
  using corvane::fraction_detail::gcd;
  using u128 = unsigned __int128;
  const auto euclid = [](u128 a, u128 b) {
    while (b != 0) {
      const u128 r = a % b;
      a = b;
      b = r;
    }
    return a;
  };
  const u128 two70 = u128(1) << 70;
  EXPECT_TRUE(gcd(two70, u128(0)) == two70);
  EXPECT_TRUE(gcd(u128(0), two70) == two70);
  EXPECT_TRUE(gcd(two70 * 3, two70 * 5) == two70);
  EXPECT_TRUE(gcd(two70 * 3 + 3, u128(9)) == 3);
  EXPECT_EQ(gcd(std::uint64_t(0), std::uint64_t(0)), 0u);
  std::mt19937_64 rng(11);
  for (int i = 0; i < 20000; ++i) {
    const std::uint64_t a = rng() >> (rng() % 64), b = rng() >> (rng() % 64);
    const std::uint64_t c = (rng() >> (rng() % 64)) | 1;
    ASSERT_EQ(gcd(a * c, b * c), static_cast<std::uint64_t>(euclid(a * c, b * c)));
    const u128 x = u128(a) * c, y = u128(b) * c;
    ASSERT_TRUE(gcd(x, y) == euclid(x, y)) << a << " " << b << " " << c;
  }
}

// The same search at 128 bits serves bars found from a time, whose exact
// value can leave 64 bits before it is bounded.
TEST(FractionLimit, WideSearchMatchesTheNarrowOneAndReachesBeyond64Bits) {
  using corvane::fraction_detail::closest_fraction;
  std::mt19937_64 rng(7);
  for (int i = 0; i < 3000; ++i) {
    const Fraction v(static_cast<std::int64_t>(rng()), static_cast<std::int64_t>(rng() >> 1) | 1);
    const auto bound = static_cast<std::int64_t>(rng() >> (1 + rng() % 63)) + 1;
    i128 n = 0, d = 0;
    ASSERT_TRUE(closest_fraction<i128>(v.numerator(), v.denominator(), bound, n, d));
    const Fraction narrow = v.limit_denominator(bound);
    ASSERT_EQ(n, narrow.numerator()) << v.fmt() << " bound " << bound;
    ASSERT_EQ(d, narrow.denominator()) << v.fmt() << " bound " << bound;
  }
  // pi to 35 decimals, 19634954084936207740391521145496893 / 6.25e33.
  const i128 pi_n = i128(19634954084936207) * i128(1000000000000000000) + 740391521145496893;
  const i128 pi_d = i128(6250000000000000) * i128(1000000000000000000);
  i128 n = 0, d = 0;
  ASSERT_TRUE(closest_fraction<i128>(pi_n, pi_d, i128(1000000), n, d));
  EXPECT_TRUE(n == 3126535 && d == 995207);
  ASSERT_TRUE(closest_fraction<i128>(pi_n, pi_d, i128(100), n, d));
  EXPECT_TRUE(n == 311 && d == 99);
  // -(2^100 + 1) / 2^99 is just below -2.
  ASSERT_TRUE(closest_fraction<i128>(-((i128(1) << 100) + 1), i128(1) << 99, i128(1000000), n, d));
  EXPECT_TRUE(n == -2 && d == 1);
}

// --- floating point --------------------------------------------------------

TEST(FractionFloat, ApproximationExamples) {
  const std::pair<double, Fraction> cases[] = {
      {0.5, F(1, 2)},         {0.1, F(1, 10)},
      {0.3, F(3, 10)},        {1.0 / 3.0, F(1, 3)},
      {123.456, F(15432, 125)}, {3.14159, F(314159, 100000)},
      {-1.5, F(-3, 2)},       {1e-10, F(1, 10000000000)},
      {1e-19, F(0)},          {0.0, F(0)},
      {-0.0, F(0)},           {2.0, F(2)},
      {9007199254740993.0, F(9007199254740992)},
  };
  for (const auto& [value, expected] : cases) {
    const auto got = Fraction::approximate_float(value);
    ASSERT_TRUE(got.has_value()) << value;
    EXPECT_EQ(*got, expected) << value << " gave " << got->fmt();
  }
  expect_fields(*Fraction::approximate_float(-0.0), 0, 1);
  EXPECT_FALSE(Fraction::approximate_float(9.3e18).has_value());
  EXPECT_FALSE(Fraction::approximate_float(9223372036854775808.0).has_value());
  EXPECT_FALSE(Fraction::approximate_float(std::nan("")).has_value());
  EXPECT_FALSE(Fraction::approximate_float(INFINITY).has_value());
}

TEST(FractionFloat, FromF64SaturatesWhenNotApproximable) {
  EXPECT_EQ(Fraction::from_f64(2.5), F(5, 2));
  EXPECT_EQ(Fraction::from_f64(1e30), F(kMax));
  EXPECT_EQ(Fraction::from_f64(-1e30), F(kMin));
  EXPECT_EQ(Fraction::from_f64(INFINITY), F(kMax));
  EXPECT_EQ(Fraction::from_f64(-INFINITY), F(kMin));
  EXPECT_EQ(Fraction::from_f64(std::nan("")), F(0));
  EXPECT_EQ(Fraction::from_f64(9223372036854775808.0), F(kMax));
  EXPECT_EQ(Fraction::from_f64(-9223372036854775808.0), F(kMin));
}

// --- text ------------------------------------------------------------------

// The integer and float grammars themselves are tested with the shared
// readers (test_numbers); these cases cover what parse adds: the slash form,
// trimming, the order of the forms and the mapping of floats to fractions.
TEST(FractionParse, AcceptedAndRejectedForms) {
  const std::pair<const char*, std::optional<Fraction>> cases[] = {
      {" 6 / -4 ", F(-3, 2)},
      {"+3/4", F(3, 4)},
      {"1.5/2", std::nullopt},
      {"1/2/3", std::nullopt},
      {"/2", std::nullopt},
      {"2/", std::nullopt},
      {"2.5", F(5, 2)},
      {"1e-30", F(0)},
      {"007", F(7)},
      {"", std::nullopt},
      {"+", std::nullopt},
      {"abc", std::nullopt},
      {"1_000", std::nullopt},
      {"99999999999999999999", F(kMax)},
      {"-9223372036854775808", F(kMin)},
      {"-9223372036854775808/2", F(kMin / 2)},
      {"9223372036854775808/2", std::nullopt},  // part out of range
      {"-9223372036854775808/-1", std::nullopt},
      {"inf", F(kMax)},
      {"-INF", F(kMin)},
      {"nan", F(0)},
      {"-NaN", F(0)},
      {"1.", F(1)},
      {".5", F(1, 2)},
      {"1e3", F(1000)},
      {"2.5e-1", F(1, 4)},
      {"1e400", F(kMax)},
      {"-1e400", F(kMin)},
      {"1e-400", F(0)},
      {"1 000", std::nullopt},
      {"\u30001/3\u0085", F(1, 3)},
      {"\u3000 4 /\u3000 6", F(2, 3)},
      {"\uFEFF1", std::nullopt},
      {"\u0661", std::nullopt},  // Arabic-Indic digit: not an ASCII digit
      {"1/\u0662", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    const auto got = Fraction::parse(text);
    EXPECT_EQ(got, expected) << '"' << text << "\" gave " << (got ? got->fmt() : "none");
  }
}

TEST(FractionParse, ZeroDenominatorIsAnError) {
  std::string msg;
  EXPECT_EQ(error_kind([] { Fraction::parse("3/0"); }, &msg), ErrorKind::ZeroDivision);
  EXPECT_EQ(msg, "Fraction(3, 0)");
  EXPECT_EQ(error_kind([] { Fraction::parse(" -1 / -0 "); }, &msg), ErrorKind::ZeroDivision);
  EXPECT_EQ(msg, "Fraction(-1, 0)");
  // "0" alone and "0.0" are fine.
  EXPECT_EQ(Fraction::parse("0"), F(0));
  EXPECT_EQ(Fraction::parse("0/5"), F(0));
}

TEST(FractionFormat, TextForms) {
  const std::pair<Fraction, const char*> cases[] = {
      {F(3), "3."},          {F(0), "0."},          {F(-3), "-3."},
      {F(1, 2), "1/2"},      {F(-1, 2), "-1/2"},    {F(7, 2), "3.+1/2"},
      {F(-7, 2), "-3.+-1/2"}, {F(10, 3), "3.+1/3"}, {F(6, 4), "1.+1/2"},
      {F(-1, 3), "-1/3"},
      {F(kMin), "-9223372036854775808."},
      {F(kMin, kMax), "-1.+-1/9223372036854775807"},
      {F(kMax, kMax - 1), "1.+1/9223372036854775806"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(value.fmt(), text);

  std::string out = "x=";
  F(7, 2).fmt_to(out);
  out += ';';
  F(-1, 3).fmt_to(out);
  EXPECT_EQ(out, "x=3.+1/2;-1/3");
}

TEST(FractionFormat, ParseReadsBackTheFieldsOfEveryForm) {
  Sampler s(7);
  for (int i = 0; i < 2000; ++i) {
    const Fraction f = s.fraction();
    std::string text = std::to_string(f.numerator()) + "/" + std::to_string(f.denominator());
    EXPECT_EQ(Fraction::parse(text), f) << text;
  }
}

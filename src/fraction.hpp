#pragma once
// Exact rational number on signed 64-bit integers, always in lowest terms
// with a positive denominator. Results are exact: when an intermediate
// product overflows 64 bits the operation is redone in 128 bits, and a
// result that does not fit throws Error(ErrorKind::Overflow), never wraps.
// A zero denominator throws Error(ErrorKind::ZeroDivision). Nothing here
// allocates (except the message of a thrown error).
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

class Fraction {
 public:
  constexpr Fraction() noexcept = default;
  // Integer conversion: n/1.
  constexpr Fraction(std::int64_t n) noexcept : num_(n), den_(1) {}  // NOLINT(implicit)
  // The reducing constructor (numerator, denominator); zero denominator throws.
  Fraction(std::int64_t numerator, std::int64_t denominator);

  std::int64_t numerator() const noexcept { return num_; }
  std::int64_t denominator() const noexcept { return den_; }

  Fraction add(Fraction o) const;
  Fraction sub(Fraction o) const;
  Fraction mul(Fraction o) const;
  Fraction div(Fraction o) const;  // division by zero throws ZeroDivision

  std::int64_t floor() const noexcept;
  std::int64_t ceil() const noexcept;
  // Closest fraction with denominator <= max_denominator; a bound below 1
  // throws Error(ErrorKind::Value, "max_denominator should be at least 1").
  Fraction limit_denominator(std::int64_t max_denominator) const;

  static std::optional<Fraction> approximate_float(double value) noexcept;
  static Fraction from_f64(double value) noexcept;
  // Accepted forms: "n/d" (trimmed parts), integer, decimal float literal.
  static std::optional<Fraction> parse(std::string_view text);
  // "3.", "1/2", "3.+1/2", "-3.+-1/2".
  std::string fmt() const;
  // Appends fmt() to out without a temporary.
  void fmt_to(std::string& out) const;

  double to_double() const noexcept {
    return static_cast<double>(num_) / static_cast<double>(den_);
  }
  bool is_zero() const noexcept { return num_ == 0; }

  friend bool operator==(Fraction a, Fraction b) noexcept {
    return a.num_ == b.num_ && a.den_ == b.den_;
  }
  friend std::strong_ordering operator<=>(Fraction a, Fraction b) noexcept;

  friend Fraction operator+(Fraction a, Fraction b) { return a.add(b); }
  friend Fraction operator-(Fraction a, Fraction b) { return a.sub(b); }
  friend Fraction operator*(Fraction a, Fraction b) { return a.mul(b); }
  friend Fraction operator/(Fraction a, Fraction b) { return a.div(b); }

  std::size_t hash() const noexcept;

 private:
  struct Raw {};
  constexpr Fraction(Raw, std::int64_t n, std::int64_t d) noexcept : num_(n), den_(d) {}
  std::int64_t num_ = 0;
  std::int64_t den_ = 1;
};

struct FractionHash {
  std::size_t operator()(Fraction f) const noexcept { return f.hash(); }
};

}  // namespace corvane

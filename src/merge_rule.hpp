#pragma once
// What counts as set when two records merge: a present, non-empty text or a
// present, non-zero number (a NaN is not zero, so it counts). Meta::merge
// keeps the receiver's set values, Event::merge takes the argument's.
#include <cstdint>
#include <optional>
#include <string>

#include "fraction.hpp"

namespace corvane {

inline bool is_set(const std::optional<std::string>& text) noexcept {
  return text && !text->empty();
}
inline bool is_set(const std::optional<double>& number) noexcept {
  return number && *number != 0.0;
}
inline bool is_set(const std::optional<Fraction>& number) noexcept {
  return number && !number->is_zero();
}
inline bool is_set(const std::optional<std::int32_t>& number) noexcept {
  return number && *number != 0;
}

}  // namespace corvane

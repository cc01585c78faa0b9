#pragma once
// A change in force from a bar on.
#include <cstdint>
#include <optional>
#include <string>

#include "fraction.hpp"

namespace corvane {

struct Event {
  Fraction bar;
  std::optional<Fraction> bpm;
  std::optional<Fraction> bar_length;
  std::optional<std::int32_t> sentence_length;
  std::optional<double> speed;
  std::optional<std::string> section;
  std::optional<std::string> text;

  // Bar 0, 120 BPM, 4 beats a bar, sentence length 4.
  static Event initial_state();
  // New record: other's value wins where it is set (present and non-zero /
  // non-empty; NaN speed counts as set); bar is always other's.
  static Event merge(const Event& receiver, const Event& other);
  // In-place form of merge (receiver = merge(receiver, other)) without copies
  // of the receiver's texts.
  void merge_from(const Event& other);

  // Field-wise equality; a NaN speed equals nothing.
  friend bool operator==(const Event& a, const Event& b) noexcept;
};

}  // namespace corvane

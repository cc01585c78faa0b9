#pragma once
// Events that set one field at a bar, for tests that build scores by hand.
#include <string>
#include <utility>

#include "fraction.hpp"
#include "notes/event.hpp"

namespace corvane::testing {

inline Event at(Fraction bar) {
  Event e;
  e.bar = bar;
  return e;
}
inline Event bpm_at(Fraction bar, Fraction bpm) {
  Event e = at(bar);
  e.bpm = bpm;
  return e;
}
inline Event length_at(Fraction bar, Fraction beats) {
  Event e = at(bar);
  e.bar_length = beats;
  return e;
}
inline Event text_at(Fraction bar, std::string text) {
  Event e = at(bar);
  e.text = std::move(text);
  return e;
}
inline Event section_at(Fraction bar, std::string section) {
  Event e = at(bar);
  e.section = std::move(section);
  return e;
}
inline Event speed_at(Fraction bar, double speed) {
  Event e = at(bar);
  e.speed = speed;
  return e;
}

}  // namespace corvane::testing

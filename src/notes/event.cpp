#include "notes/event.hpp"

#include "merge_rule.hpp"

namespace corvane {

Event Event::initial_state() {
  Event e;
  e.bar = Fraction(0);
  e.bpm = Fraction(120);
  e.bar_length = Fraction(4);
  e.sentence_length = 4;
  return e;
}

Event Event::merge(const Event& receiver, const Event& other) {
  Event out = receiver;
  out.merge_from(other);
  return out;
}

void Event::merge_from(const Event& other) {
  bar = other.bar;
  if (is_set(other.bpm)) bpm = other.bpm;
  if (is_set(other.bar_length)) bar_length = other.bar_length;
  if (is_set(other.sentence_length)) sentence_length = other.sentence_length;
  if (is_set(other.speed)) speed = other.speed;  // a NaN speed counts as set
  // Assigning into an existing string reuses its buffer.
  if (is_set(other.section)) section = other.section;
  if (is_set(other.text)) text = other.text;
}

bool operator==(const Event& a, const Event& b) noexcept {
  if (a.bar != b.bar || a.bpm != b.bpm || a.bar_length != b.bar_length ||
      a.sentence_length != b.sentence_length)
    return false;
  if (a.speed.has_value() != b.speed.has_value()) return false;
  if (a.speed && !(*a.speed == *b.speed)) return false;  // NaN equals nothing
  return a.section == b.section && a.text == b.text;
}

}  // namespace corvane

#include "notes/event.hpp"

namespace corvane {

namespace {

bool fraction_is_set(const std::optional<Fraction>& f) noexcept { return f && !f->is_zero(); }
bool text_is_set(const std::optional<std::string>& t) noexcept { return t && !t->empty(); }

}  // namespace

Event Event::initial_state() {
  Event e;
  e.bar = Fraction(0);
  e.bpm = Fraction(120);
  e.bar_length = Fraction(4);
  e.sentence_length = 4;
  return e;
}

Event Event::merge(const Event& receiver, const Event& other) {
  Event out;
  out.bar = other.bar;
  out.bpm = fraction_is_set(other.bpm) ? other.bpm : receiver.bpm;
  out.bar_length = fraction_is_set(other.bar_length) ? other.bar_length : receiver.bar_length;
  out.sentence_length =
      (other.sentence_length && *other.sentence_length != 0) ? other.sentence_length : receiver.sentence_length;
  // NaN != 0.0, so a NaN speed counts as set.
  out.speed = (other.speed && *other.speed != 0.0) ? other.speed : receiver.speed;
  out.section = text_is_set(other.section) ? other.section : receiver.section;
  out.text = text_is_set(other.text) ? other.text : receiver.text;
  return out;
}

void Event::merge_from(const Event& other) {
  bar = other.bar;
  if (fraction_is_set(other.bpm)) bpm = other.bpm;
  if (fraction_is_set(other.bar_length)) bar_length = other.bar_length;
  if (other.sentence_length && *other.sentence_length != 0) sentence_length = other.sentence_length;
  if (other.speed && *other.speed != 0.0) speed = other.speed;
  // Assigning into an existing string reuses its buffer.
  if (text_is_set(other.section)) section = other.section;
  if (text_is_set(other.text)) text = other.text;
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

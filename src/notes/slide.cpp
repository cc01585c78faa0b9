#include "notes/slide.hpp"

#include "notes/note.hpp"

namespace corvane {

namespace {

std::uint32_t type_of(std::span<const NoteData> notes, std::size_t k) noexcept { return notes[k].base.note_type; }

// The type of the tap absorbed by the directional note at index d, if both exist.
std::optional<std::uint32_t> directional_tap_type(std::span<const NoteData> notes, std::size_t d) noexcept {
  if (d == kNoLink || !notes[d].is_directional()) return std::nullopt;
  std::size_t t = notes[d].directional.tap;
  if (t == kNoLink) return std::nullopt;
  return type_of(notes, t);
}

bool carries_critical(const Slide& s, std::span<const NoteData> notes) noexcept {
  if (s.tap != kNoLink && is_critical_type(type_of(notes, s.tap))) return true;
  std::optional<std::uint32_t> dt = directional_tap_type(notes, s.directional);
  return dt && is_critical_type(*dt);
}

}  // namespace

bool Slide::is_critical(const Slide& s, std::span<const NoteData> notes) noexcept {
  if (carries_critical(s, notes)) return true;
  if (s.head == kNoLink || !notes[s.head].is_slide()) return false;
  return carries_critical(notes[s.head].slide, notes);
}

bool Slide::is_trend(const Slide& s, std::span<const NoteData> notes) noexcept {
  if (s.tap != kNoLink && is_trend_type(type_of(notes, s.tap))) return true;
  std::optional<std::uint32_t> dt = directional_tap_type(notes, s.directional);
  return dt && is_trend_type(*dt);
}

std::optional<bool> Slide::is_tick(const Slide& s, std::span<const NoteData> notes,
                                   std::uint32_t note_type) noexcept {
  const bool has_tap = s.tap != kNoLink;
  if (has_tap && is_hidden_type(type_of(notes, s.tap))) return std::nullopt;
  if (!s.decoration) {
    if (note_type == 5) return std::nullopt;
    return !is_trend(s, notes) && note_type != 3;
  }
  if (has_tap) {
    std::uint32_t t = type_of(notes, s.tap);
    if (!is_trend_type(t) && !is_hidden_type(t)) return true;
  }
  if (s.directional == kNoLink) {
    if (has_tap) return false;
    return std::nullopt;
  }
  const NoteData& d = notes[s.directional];
  if (!d.is_directional()) return false;
  if (d.directional.tap == kNoLink) return true;
  return !is_trend_type(type_of(notes, d.directional.tap));
}

}  // namespace corvane

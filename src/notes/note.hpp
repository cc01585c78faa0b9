#pragma once
// One note of a chart: a tap, a directional note or a slide step.
#include <cstdint>
#include <optional>
#include <span>

#include "fraction.hpp"
#include "notes/directional.hpp"
#include "notes/slide.hpp"

namespace corvane {

struct NoteBase {
  Fraction bar;
  std::uint32_t lane = 0;
  std::uint32_t width = 0;
  std::uint32_t note_type = 0;
};

// Lanes 2..13 are playable; every other lane is special.
constexpr bool is_playable_lane(std::uint32_t lane) noexcept { return lane >= 2 && lane <= 13; }
constexpr bool is_critical_type(std::uint32_t t) noexcept { return t == 2 || t == 6 || t == 8; }
constexpr bool is_trend_type(std::uint32_t t) noexcept { return t == 5 || t == 6; }
constexpr bool is_hidden_type(std::uint32_t t) noexcept { return t == 7 || t == 8; }

struct NoteData {
  enum class Kind : std::uint8_t { Tap, Directional, Slide };

  Kind kind = Kind::Tap;
  NoteBase base;
  Directional directional;  // meaningful when kind == Directional
  Slide slide;              // meaningful when kind == Slide

  static NoteData tap(NoteBase b) { return NoteData{Kind::Tap, b, {}, {}}; }
  static NoteData make_directional(NoteBase b) { return NoteData{Kind::Directional, b, {}, {}}; }
  static NoteData make_slide(NoteBase b, std::uint32_t channel, bool decoration) {
    NoteData n{Kind::Slide, b, {}, {}};
    n.slide.channel = channel;
    n.slide.decoration = decoration;
    return n;
  }

  bool is_tap() const noexcept { return kind == Kind::Tap; }
  bool is_directional() const noexcept { return kind == Kind::Directional; }
  bool is_slide() const noexcept { return kind == Kind::Slide; }

  // nullopt: no tick mark; false: short mark; true: counted mark.
  static std::optional<bool> is_tick(const NoteData& n, std::span<const NoteData> notes) noexcept;
};

}  // namespace corvane

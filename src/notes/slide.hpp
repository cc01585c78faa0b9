#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "notes/directional.hpp"

namespace corvane {

struct NoteData;

// One step of a slide chain and its links (indices into Score::notes).
struct Slide {
  std::size_t tap = kNoLink;
  std::size_t directional = kNoLink;
  std::size_t next = kNoLink;
  std::size_t head = kNoLink;
  std::uint32_t channel = 0;
  bool decoration = false;

  static bool is_critical(const Slide& s, std::span<const NoteData> notes) noexcept;
  static bool is_trend(const Slide& s, std::span<const NoteData> notes) noexcept;
  // nullopt: no tick mark; false: short mark; true: counted mark.
  static std::optional<bool> is_tick(const Slide& s, std::span<const NoteData> notes,
                                     std::uint32_t note_type) noexcept;
};

}  // namespace corvane

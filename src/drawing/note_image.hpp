#pragma once
#include <cstddef>
#include <span>
#include <string>

#include "drawing/drawing.hpp"
#include "drawing/layout.hpp"

namespace corvane {

// Body of one note (and its trace image) into `out` (note_images).
void write_note_image(const Drawing& drawing, const Score& score, std::size_t index, Fraction end,
                      std::string& out);
// Flick arrow of one note, one more entry of `out` (flick_arrows).
void write_flick_image(const Drawing& drawing, const Score& score, std::size_t index, Fraction end,
                       FlickArrows& out);

// The same with the note's y in the column already known (the note loop has
// it from the tick mark), which saves the two timing lookups.
void write_note_image_at(const Drawing& drawing, std::span<const NoteData> notes,
                         std::size_t index, double y, std::string& out);
void write_flick_image_at(const Drawing& drawing, std::span<const NoteData> notes,
                          std::size_t index, double y, FlickArrows& out);

}  // namespace corvane

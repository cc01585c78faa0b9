#pragma once
#include <cstdint>

#include "drawing/layout.hpp"

namespace corvane {

// Walks the active notes for the column [start, end]: visibility, tick
// marks, and the note writers into the side buffers. Refuses, by `budget`,
// side buffers that would take the document past its bound.
void run_note_loop(const Drawing& drawing, const Score& score, std::int32_t start, std::int32_t end,
                   ColumnBuffers& buffers, const DocumentBudget& budget);
// The same within the default bound.
void run_note_loop(const Drawing& drawing, const Score& score, std::int32_t start, std::int32_t end,
                   ColumnBuffers& buffers);

}  // namespace corvane

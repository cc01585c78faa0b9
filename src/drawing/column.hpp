#pragma once
// One column (sentence) of the chart.
#include <cstdint>
#include <string>

#include "drawing/drawing.hpp"
#include "drawing/layout.hpp"

namespace corvane {

struct ColumnResult {
  std::string fragment;
  double width = 0;
  double height = 0;
};

// The column of bars [start, end]. `budget` holds what the document has
// counted so far; the column is refused as soon as it would pass the bound.
ColumnResult render_sentence(const Drawing& drawing, const Score& score, const Lyric* lyric,
                             std::int32_t start, std::int32_t end, const DocumentBudget& budget);
// The same for a column on its own, within the default bound.
ColumnResult render_sentence(const Drawing& drawing, const Score& score, const Lyric* lyric,
                             std::int32_t start, std::int32_t end);

}  // namespace corvane

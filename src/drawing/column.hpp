#pragma once
// One column (sentence) of the chart.
#include <cstdint>
#include <string>
#include <vector>

#include "drawing/drawing.hpp"

namespace corvane {

// Side buffers a column appends after its own elements, in this order.
struct ColumnBuffers {
  std::string slide_paths;
  std::string note_images;
  std::string relay_images;
  std::vector<std::string> flick_arrows;  // appended last-written first
  std::string tick_marks;
  std::string speed_marks;
};

// y of a bar in the column whose top bar is `end`.
inline double column_y(const Drawing& d, const Score& score, Fraction bar, Fraction end) {
  return d.time_height * score.get_time_delta_f64(bar, end) + d.margin_y;
}

struct ColumnResult {
  std::string fragment;
  double width = 0;
  double height = 0;
};

ColumnResult render_sentence(const Drawing& drawing, const Score& score, const Lyric* lyric,
                             std::int32_t start, std::int32_t end);

}  // namespace corvane

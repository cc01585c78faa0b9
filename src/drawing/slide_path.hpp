#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "drawing/drawing.hpp"

namespace corvane {

// A type-3 step carrying a tap but no flick: it sits on the band without
// bending it, and it does not count towards a chain's visibility.
inline bool is_attached_relay(const NoteData& n) noexcept {
  return n.is_slide() && n.base.note_type == 3 && n.slide.tap != kNoLink &&
         n.slide.directional == kNoLink;
}

// column_y of one column, looked up once per distinct bar: a column asks for
// the same bars again and again (a note's tick and body, every slide path
// through it, notes sharing a beat).
class ColumnYCache {
 public:
  ColumnYCache(const Drawing& drawing, const Score& score, Fraction end)
      : drawing_(drawing), score_(score), end_(end) {}

  double operator()(Fraction bar);
  const Score& score() const noexcept { return score_; }

 private:
  struct Slot {
    Fraction bar;
    double y = 0.0;
    bool used = false;
  };
  void grow();

  const Drawing& drawing_;
  const Score& score_;
  Fraction end_;
  std::vector<Slot> slots_;  // open addressing, power-of-two size
  std::size_t count_ = 0;
};

// One cubic Bézier piece of a slide edge: end points and control points.
struct CurveSegment {
  double p0x = 0, p0y = 0;
  double c1x = 0, c1y = 0;
  double c2x = 0, c2y = 0;
  double p3x = 0, p3y = 0;
};

// Working lists of write_slide_path; a caller drawing many chains keeps one
// so their storage is reused instead of reallocated per chain.
struct SlidePathScratch {
  std::vector<CurveSegment> left;
  std::vector<CurveSegment> right;
  std::vector<std::size_t> relays;
};

// One slide chain from its start step as a closed path, plus relay images.
void write_slide_path(const Drawing& drawing, const Score& score, std::size_t start, Fraction end,
                      std::string& slide_paths, std::string& relay_images);
// The same for a caller that draws many chains in one column.
void write_slide_path(const Drawing& drawing, ColumnYCache& y, std::size_t start,
                      std::string& slide_paths, std::string& relay_images,
                      SlidePathScratch& scratch);

}  // namespace corvane

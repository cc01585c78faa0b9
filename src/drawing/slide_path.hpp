#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "drawing/drawing.hpp"
#include "drawing/layout.hpp"

namespace corvane {

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
// The same for a caller that draws many chains in one column. A chain can
// carry any number of relays: `budget` refuses relay images that would take
// the document past its bound.
void write_slide_path(const Drawing& drawing, ColumnYCache& y, std::size_t start,
                      std::string& slide_paths, std::string& relay_images,
                      SlidePathScratch& scratch, const DocumentBudget& budget);

}  // namespace corvane

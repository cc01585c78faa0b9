#pragma once
#include <cstddef>
#include <string>

#include "drawing/drawing.hpp"

namespace corvane {

// One slide chain from its start step as a closed path, plus relay images.
void write_slide_path(const Drawing& drawing, Score& score, std::size_t start, Fraction end,
                      std::string& slide_paths, std::string& relay_images);

}  // namespace corvane

#pragma once
#include <cstddef>
#include <cstdint>

namespace corvane {

// Missing note link.
inline constexpr std::size_t kNoLink = static_cast<std::size_t>(-1);

// A directional (flick) note's own links.
struct Directional {
  std::size_t tap = kNoLink;  // absorbed tap
};

}  // namespace corvane

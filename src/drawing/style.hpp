#pragma once
#include <string_view>

namespace corvane {
// The default CSS style sheet written into every document (2712 bytes).
std::string_view default_style_sheet() noexcept;
}  // namespace corvane

#include "drawing/note_loop.hpp"

namespace corvane {

void run_note_loop(const Drawing&, Score&, std::int32_t, std::int32_t, ColumnBuffers&) {}

}  // namespace corvane

#pragma once
// The note symbols of the document's definitions: for each note image kind
// the plain image, its horizontally stretched copy, and the composed symbol
// of every note width.
#include <cstdint>
#include <string>

#include "drawing/drawing.hpp"

namespace corvane {

// Note image kinds, notes_0 to notes_6.
inline constexpr std::int32_t kNoteImageKinds = 7;

// One <image> element: the body of the note symbol of kind k.
void write_note_symbol_body(const Drawing& drawing, std::string& out, std::int32_t k, double x,
                            double width);
// Every note symbol, kind by kind.
void write_note_symbols(const Drawing& drawing, std::string& out);

}  // namespace corvane

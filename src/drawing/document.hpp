#pragma once
// The whole SVG document: the overlays, the column bounds, the frame with its
// definitions and metadata band, and the columns.
#include <cstddef>
#include <string>

#include "drawing/drawing.hpp"

namespace corvane {

// Drawing::svg with the bound on the document's size given (Drawing::svg
// passes kMaxDocumentBytes): a larger document is refused with
// Error(ErrorKind::Value) as soon as its size is known.
std::string render_document(Drawing& drawing, const Score& score, const Lyric* lyric,
                            std::size_t max_bytes);

}  // namespace corvane

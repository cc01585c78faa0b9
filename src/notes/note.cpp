#include "notes/note.hpp"

namespace corvane {

std::optional<bool> NoteData::is_tick(const NoteData& n, std::span<const NoteData> notes) noexcept {
  switch (n.kind) {
    case Kind::Tap:
      if (is_trend_type(n.base.note_type)) return false;
      if (is_hidden_type(n.base.note_type)) return std::nullopt;
      return true;
    case Kind::Directional:
      // The flick's own type plays no part; only its absorbed tap's does.
      if (n.directional.tap == kNoLink) return true;
      return !is_trend_type(notes[n.directional.tap].base.note_type);
    case Kind::Slide:
      return Slide::is_tick(n.slide, notes, n.base.note_type);
  }
  return std::nullopt;
}

}  // namespace corvane

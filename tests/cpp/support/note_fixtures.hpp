#pragma once
// Small hand-built scores for the note writer tests. Notes must be added in
// ascending bar order so that the indices returned here survive the stable
// sort of Score::init_notes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "drawing/drawing.hpp"
#include "drawing/layout.hpp"
#include "score.hpp"

namespace corvane::testing {

inline constexpr const char* kHost = "https://n.example/note";

struct ChartBuilder {
  Score score;

  std::size_t add(NoteData n) {
    score.notes.push_back(n);
    return score.notes.size() - 1;
  }
  std::size_t tap(Fraction bar, std::uint32_t lane, std::uint32_t width, std::uint32_t type) {
    return add(NoteData::tap(NoteBase{bar, lane, width, type}));
  }
  std::size_t flick(Fraction bar, std::uint32_t lane, std::uint32_t width, std::uint32_t type) {
    return add(NoteData::make_directional(NoteBase{bar, lane, width, type}));
  }
  std::size_t step(Fraction bar, std::uint32_t lane, std::uint32_t width, std::uint32_t type,
                   std::uint32_t channel = 0, bool decoration = false) {
    return add(NoteData::make_slide(NoteBase{bar, lane, width, type}, channel, decoration));
  }
  void bar_length(Fraction bar, Fraction beats) {
    Event e;
    e.bar = bar;
    e.bar_length = beats;
    score.events.push_back(std::move(e));
  }
  // Links the notes and sorts the events, as reading a chart does.
  Score& finish() {
    score.init_notes();
    score.init_events();
    return score;
  }
};

// The flick arrows, one text each, in writing order.
inline std::vector<std::string> arrow_list(const FlickArrows& arrows) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < arrows.size(); ++i) out.emplace_back(arrows[i]);
  return out;
}

inline Drawing test_drawing() {
  Drawing d;
  d.note_host = kHost;
  return d;
}

}  // namespace corvane::testing

#include "drawing/note_image.hpp"

#include <algorithm>
#include <cmath>
#include <span>
#include <utility>

#include "drawing/column.hpp"
#include "drawing/format.hpp"

namespace corvane {

namespace {

constexpr int kNothing = -1;

struct BodyChoice {
  const char* trace = nullptr;  // trace image drawn under the body, if any
  int kind = kNothing;          // symbol kind, kNothing for no body at all
};

std::uint32_t type_of(std::span<const NoteData> notes, std::size_t index) {
  return notes[index].base.note_type;
}

BodyChoice choose_body(std::span<const NoteData> notes, const NoteData& note) {
  static constexpr const char* kLong = "notes_friction_among_long";
  static constexpr const char* kCritical = "notes_friction_among_crtcl";
  static constexpr const char* kFlick = "notes_friction_among_flick";

  switch (note.kind) {
    case NoteData::Kind::Tap: {
      const std::uint32_t t = note.base.note_type;
      if (is_hidden_type(t)) return {};
      if (t == 5) return {kLong, 4};
      if (t == 6) return {kCritical, 5};
      if (t == 2) return {nullptr, 0};
      return {nullptr, 2};
    }
    case NoteData::Kind::Directional: {
      // The flick's own type only picks its arrow; the body follows its tap.
      if (note.directional.tap == kNoLink) return {nullptr, 3};
      const std::uint32_t t = type_of(notes, note.directional.tap);
      if (t == 5) return {kFlick, 6};
      if (t == 6) return {kCritical, 5};
      if (t == 2 || t == 8) return {nullptr, 0};
      return {nullptr, 3};
    }
    case NoteData::Kind::Slide: {
      const Slide& s = note.slide;
      if (s.tap != kNoLink && is_hidden_type(type_of(notes, s.tap))) return {};
      const bool critical = Slide::is_critical(s, notes);
      if (Slide::is_trend(s, notes)) return critical ? BodyChoice{kCritical, 5} : BodyChoice{kLong, 4};
      if (critical) return {nullptr, 0};
      if (note.base.note_type == 2 && s.directional != kNoLink) return {nullptr, 3};
      return {nullptr, 1};
    }
  }
  return {};
}

enum class Arrow { None, Up, Left, Right };

Arrow arrow_for_type(std::uint32_t t) {
  if (t == 2 || t == 5 || t == 6) return Arrow::None;
  if (t == 3) return Arrow::Left;
  if (t == 4) return Arrow::Right;
  return Arrow::Up;
}

Arrow choose_arrow(std::span<const NoteData> notes, const NoteData& note) {
  switch (note.kind) {
    case NoteData::Kind::Tap:
      return is_hidden_type(note.base.note_type) ? Arrow::None : Arrow::Up;
    case NoteData::Kind::Directional:
      return arrow_for_type(note.base.note_type);
    case NoteData::Kind::Slide: {
      const Slide& s = note.slide;
      if (s.tap != kNoLink && is_hidden_type(type_of(notes, s.tap))) return Arrow::None;
      if (s.directional == kNoLink) return Arrow::Up;
      return arrow_for_type(type_of(notes, s.directional));
    }
  }
  return Arrow::None;
}

bool arrow_is_critical(std::span<const NoteData> notes, const NoteData& note) {
  switch (note.kind) {
    case NoteData::Kind::Tap:
      return is_critical_type(note.base.note_type);
    case NoteData::Kind::Directional:
      return note.directional.tap != kNoLink && is_critical_type(type_of(notes, note.directional.tap));
    case NoteData::Kind::Slide:
      return Slide::is_critical(note.slide, notes);
  }
  return false;
}

// x of a note's centre: lane l, width w has its centre at (l - 2 + w/2) lanes.
double centre_x(const Drawing& drawing, const NoteBase& base) {
  return (static_cast<double>(base.lane) - 2.0 + static_cast<double>(base.width) / 2.0) *
             static_cast<double>(drawing.lane_width) +
         static_cast<double>(drawing.margin_x);
}

}  // namespace

void write_note_image(const Drawing& drawing, const Score& score, std::size_t index, Fraction end,
                      std::string& out) {
  const NoteData& note = score.notes[index];
  if (choose_body(score.notes, note).kind == kNothing) return;
  write_note_image_at(drawing, score.notes, index, column_y(drawing, score, note.base.bar, end),
                      out);
}

void write_note_image_at(const Drawing& drawing, std::span<const NoteData> notes,
                         std::size_t index, double y, std::string& out) {
  const NoteData& note = notes[index];
  const BodyChoice choice = choose_body(notes, note);
  if (choice.kind == kNothing) return;

  const double lw = static_cast<double>(drawing.lane_width);
  const double h = 1.75 * lw;
  const double w = lw * (static_cast<double>(note.base.width) + 1.0);
  const double x0 = (static_cast<double>(note.base.lane) - 2.5) * lw +
                    static_cast<double>(drawing.margin_x);

  if (choice.trace != nullptr) {
    const double s = 0.75 * lw;
    const double cx = centre_x(drawing, note.base);
    append_note_image_start(out, drawing);
    out += choice.trace;
    append_note_image_end(out, drawing);
    append_box(out, cx - s / 2, y - s / 2, s, s);
    out += "/>";
  }

  out += "<use href=\"#notes-";
  append_int(out, choice.kind);
  out += '-';
  append_int(out, note.base.width);
  out += '"';
  append_box(out, x0, y - h / 2, w, h);
  out += "/>";
}

void write_flick_image(const Drawing& drawing, const Score& score, std::size_t index, Fraction end,
                       std::vector<std::string>& out) {
  const NoteData& note = score.notes[index];
  if (choose_arrow(score.notes, note) == Arrow::None) return;
  write_flick_image_at(drawing, score.notes, index, column_y(drawing, score, note.base.bar, end),
                       out);
}

void write_flick_image_at(const Drawing& drawing, std::span<const NoteData> notes,
                          std::size_t index, double y, std::vector<std::string>& out) {
  const NoteData& note = notes[index];
  const Arrow arrow = choose_arrow(notes, note);
  if (arrow == Arrow::None) return;

  const bool critical = arrow_is_critical(notes, note);
  const bool diagonal = arrow == Arrow::Left || arrow == Arrow::Right;
  const std::uint32_t n = std::min<std::uint32_t>(note.base.width, 6);

  const double nd = static_cast<double>(n);
  const double fs = static_cast<double>(drawing.flick_size);
  const double ns = static_cast<double>(drawing.note_size);
  const double a = fs * std::pow((nd + 3.0) / 3.0, 0.75);
  const double b = 1.5 * fs * std::pow((nd + 0.5) / 3.0, 0.75);
  const double cx = centre_x(drawing, note.base);
  const double shift = arrow == Arrow::Left ? -ns / 4 : arrow == Arrow::Right ? ns / 4 : 0.0;

  std::string text;
  text.reserve(160 + drawing.note_host.size() + drawing.note_asset_extension.size());
  append_note_image_start(text, drawing);
  text += "notes_flick_arrow";
  if (critical) text += "_crtcl";
  text += '_';
  text += static_cast<char>('0' + n / 10);
  text += static_cast<char>('0' + n % 10);
  if (diagonal) text += "_diagonal";
  append_note_image_end(text, drawing);
  append_box(text, cx - b / 2 + shift, y + ns / 4 - a, b, a);
  if (arrow == Arrow::Right) {
    // Mirror the left-pointing diagonal image about its own centre line.
    text += " transform-origin=\"";
    append_round(text, cx + shift);
    text += " 0\" transform=\"scale(-1, 1)\"";
  }
  text += "/>";
  out.push_back(std::move(text));
}

}  // namespace corvane

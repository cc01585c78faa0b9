#include "drawing/note_image.hpp"

#include <algorithm>
#include <cmath>
#include <span>

#include "drawing/layout.hpp"
#include "drawing/markup.hpp"

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

  const double lane_width = static_cast<double>(drawing.lane_width);
  const double height = 1.75 * lane_width;
  // Half a lane of overhang on each side.
  const double width = lane_width * (static_cast<double>(note.base.width) + 1.0);
  const double left = (static_cast<double>(note.base.lane) - 2.5) * lane_width +
                      static_cast<double>(drawing.margin_x);

  if (choice.trace != nullptr) {
    const double size = 0.75 * lane_width;
    const double cx = centre_x(drawing, note.base);
    // Host and extension are caller-given: escaped to keep the attribute closed.
    append_markup<R"svg(<image href="{}/{}.{}" x="{}" y="{}" width="{}" height="{}"/>)svg">(
        out, Escaped{drawing.note_host}, choice.trace, Escaped{drawing.note_asset_extension},
        cx - size / 2, y - size / 2, size, size);
  }
  append_markup<R"svg(<use href="#notes-{}-{}" x="{}" y="{}" width="{}" height="{}"/>)svg">(
      out, choice.kind, note.base.width, left, y - height / 2, width, height);
}

void write_flick_image(const Drawing& drawing, const Score& score, std::size_t index, Fraction end,
                       FlickArrows& out) {
  const NoteData& note = score.notes[index];
  if (choose_arrow(score.notes, note) == Arrow::None) return;
  write_flick_image_at(drawing, score.notes, index, column_y(drawing, score, note.base.bar, end),
                       out);
}

void write_flick_image_at(const Drawing& drawing, std::span<const NoteData> notes,
                          std::size_t index, double y, FlickArrows& out) {
  const NoteData& note = notes[index];
  const Arrow arrow = choose_arrow(notes, note);
  if (arrow == Arrow::None) return;

  const bool critical = arrow_is_critical(notes, note);
  const bool diagonal = arrow == Arrow::Left || arrow == Arrow::Right;
  const std::uint32_t size_number = std::min<std::uint32_t>(note.base.width, 6);

  const double size = static_cast<double>(size_number);
  const double flick_size = static_cast<double>(drawing.flick_size);
  const double note_size = static_cast<double>(drawing.note_size);
  const double height = flick_size * std::pow((size + 3.0) / 3.0, 0.75);
  const double width = 1.5 * flick_size * std::pow((size + 0.5) / 3.0, 0.75);
  const double cx = centre_x(drawing, note.base);
  const double shift =
      arrow == Arrow::Left ? -note_size / 4 : arrow == Arrow::Right ? note_size / 4 : 0.0;

  std::string& text = out.text();
  append_markup<
      R"svg(<image href="{}/notes_flick_arrow{}_{}{}.{}" x="{}" y="{}" width="{}" height="{}")svg">(
      text, Escaped{drawing.note_host}, critical ? "_crtcl" : "", ZeroPadded{size_number, 2},
      diagonal ? "_diagonal" : "", Escaped{drawing.note_asset_extension},
      cx - width / 2 + shift, y + note_size / 4 - height, width, height);
  if (arrow == Arrow::Right) {
    // Mirror the left-pointing diagonal image about its own centre line.
    append_markup<R"svg( transform-origin="{} 0" transform="scale(-1, 1)")svg">(text, cx + shift);
  }
  text += "/>";
  out.end_arrow();
}

}  // namespace corvane

#include "drawing/note_symbols.hpp"

#include "drawing/markup.hpp"

namespace corvane {

void write_note_symbol_body(const Drawing& drawing, std::string& out, std::int32_t k, double x,
                            double width) {
  // Host and extension are caller-given: escaped to keep the attribute closed.
  append_markup<R"svg(<image href="{}/notes_{}.{}" x="{}" y="{}" width="{}" height="{}"/>)svg">(
      out, Escaped{drawing.note_host}, k, Escaped{drawing.note_asset_extension}, G{x}, G{-3},
      G{width}, G{62});
}

void write_note_symbols(const Drawing& drawing, std::string& out) {
  const double lane_width = drawing.lane_width;
  const double note_size = drawing.note_size;
  // The caps are cut from the 112 x 56 image scaled to the note's height.
  const double cap_width = (note_size / 56.0) * 32.0;
  const double right_cap_x = (note_size / 56.0) * 80.0;
  for (std::int32_t k = 0; k < kNoteImageKinds; ++k) {
    append_markup<R"svg(<symbol id="notes-{}" viewBox="0 0 112 56">)svg">(out, k);
    write_note_symbol_body(drawing, out, k, -3, 118);
    out += "</symbol>";
    append_markup<R"svg(<symbol id="notes-{}-middle" viewBox="0 0 {} 56">)svg">(out, k, 134400);
    write_note_symbol_body(drawing, out, k, -37200, 141600);
    out += "</symbol>";
    for (std::int32_t w = 1; w <= drawing.lane_count; ++w) {
      const double symbol_width = lane_width * (static_cast<double>(w) + 1.0);
      const double middle_width = (lane_width * static_cast<double>(w) - cap_width) + (-2.0);
      // Space left and right of the note inside its symbol.
      const double inset = (((symbol_width - cap_width) - middle_width) - cap_width) * 0.5;
      // The right cap, drawn from the plain image placed so that its own
      // right cap lands at the symbol's right edge.
      const double right_x =
          (((inset + cap_width) + middle_width) + cap_width) - (note_size + note_size);
      append_markup<R"svg(<symbol id="notes-{}-{}" viewBox="0 0 {} {}">)svg">(
          out, k, w, Shortest{symbol_width}, Shortest{note_size});
      append_markup<
          R"svg(<clipPath id="notes-{}-{}-left"><rect x="0" y="0" width="{}" height="{}"/></clipPath>)svg">(
          out, k, w, Shortest{cap_width}, Shortest{note_size});
      append_markup<
          R"svg(<clipPath id="notes-{}-{}-middle"><rect x="0" y="0" width="{}" height="{}"/></clipPath>)svg">(
          out, k, w, Shortest{middle_width}, Shortest{note_size});
      append_markup<
          R"svg(<clipPath id="notes-{}-{}-right"><rect x="{}" y="0" width="{}" height="{}"/></clipPath>)svg">(
          out, k, w, Shortest{right_cap_x}, Shortest{cap_width}, Shortest{note_size});
      append_markup<
          R"svg(<use href="#notes-{}" x="{}" y="0" width="{}" height="{}" clip-path="url(#notes-{}-{}-left)"/>)svg">(
          out, k, Shortest{inset}, Shortest{note_size + note_size}, Shortest{note_size}, k, w);
      append_markup<
          R"svg(<use href="#notes-{}-middle" x="{}" y="0" width="{}" height="{}" clip-path="url(#notes-{}-{}-middle)"/>)svg">(
          out, k, Shortest{inset + cap_width},
          Shortest{(note_size * 1200.0) + (note_size * 1200.0)}, Shortest{note_size}, k, w);
      append_markup<
          R"svg(<use href="#notes-{}" x="{}" y="0" width="{}" height="{}" clip-path="url(#notes-{}-{}-right)"/>)svg">(
          out, k, Shortest{right_x}, Shortest{note_size + note_size}, Shortest{note_size}, k, w);
      out += "</symbol>";
    }
  }
}

}  // namespace corvane

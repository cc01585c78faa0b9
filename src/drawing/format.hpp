#pragma once
// Number forms and escaping of the SVG document. The append_* forms write
// into an existing buffer without temporaries.
#include <cstdint>
#include <string>
#include <string_view>

#include "numbers.hpp"

namespace corvane {

// Round half to even; NaN gives 0; out-of-range values saturate.
std::int64_t round_even(double v) noexcept;
// round_even(v) written as a decimal integer.
void append_round(std::string& out, double v);
// Shortest round-trip text, positional, never an exponent.
void append_shortest(std::string& out, double v);
std::string shortest(double v);
// Exactly `decimals` digits after the point, correctly rounded.
void append_fixed(std::string& out, double v, int decimals);
std::string fixed(double v, int decimals);
// At most six significant digits, %g-like with the exponent rule.
void append_format_g(std::string& out, double v);
std::string format_g(double v);
// & < > " escaped, in that order. Characters that XML cannot hold at all
// (C0 controls other than tab, LF and CR; U+FFFE, U+FFFF) become U+FFFD.
void append_escaped(std::string& out, std::string_view text);
std::string escape_xml(std::string_view text);

struct Drawing;
// The address of a note image, `<image href="{host}/` then the caller's image
// name then `.{ext}"`. Host and extension are caller-given, so both are
// escaped to keep the attribute closed.
void append_note_image_start(std::string& out, const Drawing& drawing);
void append_note_image_end(std::string& out, const Drawing& drawing);
// ` x="{}" y="{}" width="{}" height="{}"`, each value in the integer form.
void append_box(std::string& out, double x, double y, double width, double height);
// One <image> element: the body of the note symbol of kind k.
void write_note_symbol_body(const Drawing& drawing, std::string& out, std::int32_t k, double x,
                            double width);

}  // namespace corvane

#pragma once
// The module's classes and functions as the registration in module.cpp sees
// them: one ClassTraits specialisation per class (its name and its type
// object, built on first use), and the method definitions of the module-level
// functions. Each is defined in its own src/python/*_class.cpp file. Also the
// few operations that more than one of those files uses.
#include <optional>
#include <string>
#include <string_view>

#include "drawing/drawing.hpp"
#include "lyric.hpp"
#include "meta.hpp"
#include "notes/event.hpp"
#include "python/binding.hpp"
#include "rebase.hpp"
#include "score.hpp"

namespace corvane::py {

template <>
struct ClassTraits<corvane::Fraction> {
  static constexpr const char* name = "Fraction";
  static PyTypeObject* type();
};

template <>
struct ClassTraits<corvane::Meta> {
  static constexpr const char* name = "Meta";
  static PyTypeObject* type();
};

template <>
struct ClassTraits<corvane::Event> {
  static constexpr const char* name = "Event";
  static PyTypeObject* type();
};

template <>
struct ClassTraits<corvane::Score> {
  static constexpr const char* name = "Score";
  static PyTypeObject* type();
};

template <>
struct ClassTraits<corvane::Lyric> {
  static constexpr const char* name = "Lyric";
  static PyTypeObject* type();
};

template <>
struct ClassTraits<corvane::Rebase> {
  static constexpr const char* name = "Rebase";
  static PyTypeObject* type();
};

// The Drawing object's value: the renderer with its settings, and the score
// and lyric copied at construction (rendered when a call gives none).
struct PyDrawing {
  corvane::Drawing drawing;
  std::optional<corvane::Score> score;
  std::optional<corvane::Lyric> lyric;
};

template <>
struct ClassTraits<PyDrawing> {
  static constexpr const char* name = "Drawing";
  static PyTypeObject* type();
};

// The one-call rendering functions (render_functions.cpp).
extern PyMethodDef sus_to_svg_def;
extern PyMethodDef sus_to_png_def;
extern PyMethodDef sus_to_jpg_def;
extern PyMethodDef sus_to_jpeg_def;

// Score::open with the reading error as OSError "Failed to open score: ...",
// shared by Score.open and the one-call functions (score_class.cpp).
corvane::Score open_score(const std::string& path);

// Rebase::from_json with malformed JSON as ValueError: `prefix` and the
// parser's message, the prefix naming the road the text came by
// (rebase_class.cpp).
corvane::Rebase parse_rebase(std::string_view text, const char* prefix);

// RuntimeError: the module is built without raster output. Raised by every
// PNG/JPEG entry point once its inputs are accepted (render_functions.cpp).
[[noreturn]] void refuse_raster_output();

// A Drawing built from the rendering settings, shared by the one-call
// functions and the Drawing constructor. `music_meta` is a dict (or
// subclass) or nullptr; its four keys are read here, and their conversion
// errors carry no argument name.
corvane::Drawing drawing_for_render(std::optional<std::string> note_host,
                                    std::optional<std::string> style_sheet, bool skill,
                                    PyObject* music_meta,
                                    std::optional<double> target_segment_seconds,
                                    std::optional<std::string> generator,
                                    std::optional<std::string> note_asset_extension);

// A property body returning field M of the instance's value under a shared
// borrow: property<read_field<&Meta::title>>("title").
template <class C, class V>
C class_of(V C::*);
template <auto M>
Ref read_field(PyObject* self) {
  using C = decltype(class_of(M));
  Shared<C> value(self);
  return to_py((*value).*M);
}

}  // namespace corvane::py

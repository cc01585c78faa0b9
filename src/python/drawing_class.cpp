// The Python class Drawing: a renderer configured once, holding optional
// copies of a score and lyrics, that renders SVG documents on demand.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "python/classes.hpp"

namespace corvane::py {

using corvane::Lyric;
using corvane::Score;

namespace {

constexpr const char* kScoreRequired = "score is required when Drawing was created without one";

bool given(PyObject* obj) { return obj != nullptr && obj != Py_None; }

constexpr Signature kNew{"Drawing.__new__()",
                         0,
                         "score",
                         "lyric",
                         "style_sheet",
                         "note_host",
                         "skill",
                         "music_meta",
                         "target_segment_seconds",
                         "generator",
                         "note_asset_extension"};

Ref construct(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  auto a = bind(kNew, args, kwargs);
  // The score and lyric stay borrowed from their conversion until they are
  // copied, after the music_meta dict has been read.
  std::optional<Shared<Score>> score;
  if (given(a[0])) score.emplace(arg("score", a[0], instance<Score>));
  std::optional<Shared<Lyric>> lyric;
  if (given(a[1])) lyric.emplace(arg("lyric", a[1], instance<Lyric>));
  auto style_sheet = opt_arg("style_sheet", a[2], owned_text);
  auto note_host = opt_arg("note_host", a[3], owned_text);
  bool skill = arg_or("skill", a[4], to_flag, false);
  PyObject* music_meta = opt_arg("music_meta", a[5], to_dict).value_or(nullptr);
  auto target_segment_seconds = opt_arg("target_segment_seconds", a[6], to_float);
  auto generator = opt_arg("generator", a[7], owned_text);
  auto note_asset_extension = opt_arg("note_asset_extension", a[8], owned_text);

  PyDrawing value{
      drawing_for_render(std::move(note_host), std::move(style_sheet), skill, music_meta,
                         target_segment_seconds, std::move(generator),
                         std::move(note_asset_extension)),
      std::nullopt,
      std::nullopt,
  };
  if (score) value.score = **score;
  if (lyric) value.lyric = **lyric;
  score.reset();
  lyric.reset();
  return wrap(std::move(value));
}

// The score and lyric arguments of one rendering call, converted in order
// and borrowed until the call ends: the score exclusively (rendering fills
// its timing table), the lyric shared (rendering only reads it, and runs no
// Python code that could reach it, so no copy is needed).
struct CallInputs {
  std::optional<Exclusive<Score>> score;
  std::optional<Shared<Lyric>> lyric;

  CallInputs(PyObject* score_arg, PyObject* lyric_arg) {
    if (given(score_arg)) score.emplace(arg("score", score_arg, instance<Score>));
    if (given(lyric_arg)) lyric.emplace(arg("lyric", lyric_arg, instance<Lyric>));
  }
};

constexpr Signature kSvg{"Drawing.svg()", 0, "score", "lyric"};
Ref svg(PyObject* self, const FastArgs& call) {
  auto a = bind(kSvg, call);
  Exclusive<PyDrawing> d(self);
  CallInputs in(a[0], a[1]);
  const Lyric* lyric = in.lyric ? &**in.lyric : d->lyric ? &*d->lyric : nullptr;
  if (in.score) return to_py(d->drawing.svg(**in.score, lyric));
  if (!d->score) throw_error(PyExc_TypeError, kScoreRequired);
  // The stored score is rendered from a fresh copy, so it stays exactly as
  // it was given.
  Score copy = *d->score;
  return to_py(d->drawing.svg(copy, lyric));
}

// The raster methods accept their arguments and then refuse; a missing
// score is reported first.
[[noreturn]] void refuse_raster(const PyDrawing& d, const CallInputs& in) {
  if (!in.score && !d.score) throw_error(PyExc_TypeError, kScoreRequired);
  refuse_raster_output();
}

constexpr Signature kPng{"Drawing.png()", 0, "score", "lyric"};
Ref png(PyObject* self, const FastArgs& call) {
  auto a = bind(kPng, call);
  Exclusive<PyDrawing> d(self);
  CallInputs in(a[0], a[1]);
  refuse_raster(*d, in);
}

template <const auto& Sig>
Ref jpeg_like(PyObject* self, const FastArgs& call) {
  auto a = bind(Sig, call);
  Exclusive<PyDrawing> d(self);
  CallInputs in(a[0], a[1]);
  (void)arg_or("jpeg_quality", a[2], to_integer<std::uint8_t>, std::uint8_t{90});
  refuse_raster(*d, in);
}

constexpr Signature kJpg{"Drawing.jpg()", 0, "score", "lyric", "jpeg_quality"};
constexpr Signature kJpeg{"Drawing.jpeg()", 0, "score", "lyric", "jpeg_quality"};

// Setters convert the value before taking the object, so conversion code
// may still read it.
template <std::int32_t corvane::Drawing::*Field>
Ref get_int(PyObject* self) {
  return to_py(Shared<PyDrawing>(self)->drawing.*Field);
}
template <std::int32_t corvane::Drawing::*Field>
void set_int(PyObject* self, PyObject* v) {
  auto value = arg("v", v, to_integer<std::int32_t>);
  Exclusive<PyDrawing>(self)->drawing.*Field = value;
}

Ref get_time_height(PyObject* self) { return to_py(Shared<PyDrawing>(self)->drawing.time_height); }
void set_time_height(PyObject* self, PyObject* v) {
  double value = arg("v", v, to_float);
  Exclusive<PyDrawing>(self)->drawing.time_height = value;
}

PyMethodDef methods[] = {
    method<svg>("svg",
                "svg($self, score=None, lyric=None)\n--\n\nGenerate SVG string from a score"),
    method<png>("png",
                "png($self, score=None, lyric=None)\n--\n\n"
                "Generate PNG bytes from a score via direct Skia rendering"),
    method<jpeg_like<kJpg>>("jpg",
                            "jpg($self, score=None, lyric=None, jpeg_quality=90)\n--\n\n"
                            "Generate JPEG bytes from a score via direct Skia rendering"),
    method<jpeg_like<kJpeg>>("jpeg",
                             "jpeg($self, score=None, lyric=None, jpeg_quality=90)\n--\n\n"
                             "Generate JPEG bytes from a score via direct Skia rendering"),
    {},
};

PyGetSetDef properties[] = {
    property<get_int<&corvane::Drawing::note_size>, set_int<&corvane::Drawing::note_size>>(
        "note_size"),
    property<get_time_height, set_time_height>("time_height"),
    property<get_int<&corvane::Drawing::lane_width>, set_int<&corvane::Drawing::lane_width>>(
        "lane_width"),
    {},
};

const PyType_Slot slots[] = {
    new_slot<construct>(),
    {0, nullptr},
};

const ClassDef kClass{
    "builtins.Drawing",
    "Drawing(score=None, lyric=None, style_sheet=None, note_host=None, skill=False, "
    "music_meta=None, target_segment_seconds=None, generator=None, "
    "note_asset_extension=None)\n--\n\nPython wrapper for Drawing",
    methods,
    properties,
    slots,
    true,
};

}  // namespace

PyTypeObject* ClassTraits<PyDrawing>::type() { return class_type<PyDrawing>(kClass); }

}  // namespace corvane::py

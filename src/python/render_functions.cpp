// The one-call rendering functions: a chart file in, an SVG document out,
// with optional rebase, lyrics, overlay data and layout settings. The raster
// functions accept the same inputs and then report that raster output is not
// built into this module.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "python/classes.hpp"

namespace corvane::py {

using corvane::Drawing;
using corvane::Lyric;
using corvane::MusicMeta;
using corvane::Score;

namespace {

// One music_meta key, read from the dict's own storage (no __getitem__ or
// __missing__ of a subclass). The value is held while it is converted: its
// conversion may run Python code that changes the dict.
Ref music_meta_item(PyObject* dict, OnceRef& key, const char* text) {
  PyObject* k = key.get([text] { return check(PyUnicode_InternFromString(text)); });
  PyObject* v = PyDict_GetItemWithError(dict, k);
  if (v == nullptr && PyErr_Occurred()) throw_python();
  return Ref::borrow(v);
}

MusicMeta read_music_meta(PyObject* dict) {
  static OnceRef fever_end_time, fever_score, skill_score_solo, skill_score_multi;
  auto floats = [](PyObject* o) { return to_list<double>(o, to_float); };
  MusicMeta meta;
  if (Ref v = music_meta_item(dict, fever_end_time, "fever_end_time")) {
    meta.fever_end_time = to_float(v.get());
  }
  if (Ref v = music_meta_item(dict, fever_score, "fever_score")) {
    meta.fever_score = to_float(v.get());
  }
  if (Ref v = music_meta_item(dict, skill_score_solo, "skill_score_solo")) {
    meta.skill_score_solo = floats(v.get());
  }
  if (Ref v = music_meta_item(dict, skill_score_multi, "skill_score_multi")) {
    meta.skill_score_multi = floats(v.get());
  }
  return meta;
}

Score open_score_for_render(const std::string& sus_path,
                            const std::optional<std::string>& rebase_json) {
  Score score = open_score(sus_path);
  if (!rebase_json) return score;
  return parse_rebase(*rebase_json, "Invalid rebase JSON: ").apply(score);
}

// The converted arguments shared by the four functions, in parameter order.
struct RenderInputs {
  std::string sus_path;
  std::optional<std::string> note_host;
  std::optional<std::string> style_sheet;
  std::optional<std::string> rebase_json;
  std::optional<std::string> lyric_content;
  bool skill = false;
  PyObject* music_meta = nullptr;  // borrowed from the call's arguments
  std::optional<double> target_segment_seconds;
  std::optional<std::string> generator;
  std::optional<std::string> note_asset_extension;

  explicit RenderInputs(PyObject* const* a)
      : sus_path(arg("sus_path", a[0], owned_text)),
        note_host(opt_arg("note_host", a[1], owned_text)),
        style_sheet(opt_arg("style_sheet", a[2], owned_text)),
        rebase_json(opt_arg("rebase_json", a[3], owned_text)),
        lyric_content(opt_arg("lyric_content", a[4], owned_text)),
        skill(arg_or("skill", a[5], to_flag, false)),
        music_meta(opt_arg("music_meta", a[6], to_dict).value_or(nullptr)),
        target_segment_seconds(opt_arg("target_segment_seconds", a[7], to_float)),
        generator(opt_arg("generator", a[8], owned_text)),
        note_asset_extension(opt_arg("note_asset_extension", a[9], owned_text)) {}
};

// Everything a rendering needs, built in the order that decides which
// error a caller sees first: the chart and its rebase, the lyrics, then the
// settings with the music_meta dict.
struct Prepared {
  Score score;
  std::optional<Lyric> lyric;
  Drawing drawing;

  explicit Prepared(RenderInputs& in)
      : score(open_score_for_render(in.sus_path, in.rebase_json)),
        lyric(in.lyric_content ? std::optional<Lyric>(Lyric::load(*in.lyric_content))
                               : std::nullopt),
        drawing(drawing_for_render(std::move(in.note_host), std::move(in.style_sheet), in.skill,
                                   in.music_meta, in.target_segment_seconds,
                                   std::move(in.generator), std::move(in.note_asset_extension))) {}
};

#define CORVANE_RENDER_PARAMS                                                                  \
  "sus_path, note_host=None, style_sheet=None, rebase_json=None, lyric_content=None, "         \
  "skill=False, music_meta=None, target_segment_seconds=None, generator=None, "                \
  "note_asset_extension=None"
#define CORVANE_RENDER_NAMES                                                                   \
  "sus_path", "note_host", "style_sheet", "rebase_json", "lyric_content", "skill",             \
      "music_meta", "target_segment_seconds", "generator", "note_asset_extension"

constexpr Signature kSvg{"sus_to_svg()", 1, CORVANE_RENDER_NAMES};
constexpr Signature kPng{"sus_to_png()", 1, CORVANE_RENDER_NAMES};
constexpr Signature kJpg{"sus_to_jpg()", 1, CORVANE_RENDER_NAMES, "jpeg_quality"};
constexpr Signature kJpeg{"sus_to_jpeg()", 1, CORVANE_RENDER_NAMES, "jpeg_quality"};

Ref sus_to_svg(PyObject*, const FastArgs& call) {
  auto a = bind(kSvg, call);
  RenderInputs in(a.data());
  Prepared p(in);
  return to_py(p.drawing.svg(p.score, p.lyric ? &*p.lyric : nullptr));
}

// The raster functions: every input is converted and used as far as the
// SVG road would (so each reports its own error first), then refused.
template <std::size_t N>
[[noreturn]] void raster(const Bound<N>& a) {
  RenderInputs in(a.data());
  if constexpr (N > 10) {
    // Accepted and otherwise unused; left out, it is not converted at all.
    (void)arg_or("jpeg_quality", a[10], to_integer<std::uint8_t>, std::uint8_t{90});
  }
  Prepared p(in);
  refuse_raster_output();
}

Ref sus_to_png(PyObject*, const FastArgs& call) { raster(bind(kPng, call)); }
Ref sus_to_jpg(PyObject*, const FastArgs& call) { raster(bind(kJpg, call)); }
Ref sus_to_jpeg(PyObject*, const FastArgs& call) { raster(bind(kJpeg, call)); }

}  // namespace

void refuse_raster_output() {
  throw_error(PyExc_RuntimeError,
              "PNG/JPEG output requires building with the `skia-image` feature");
}

Drawing drawing_for_render(std::optional<std::string> note_host,
                           std::optional<std::string> style_sheet, bool skill,
                           PyObject* music_meta, std::optional<double> target_segment_seconds,
                           std::optional<std::string> generator,
                           std::optional<std::string> note_asset_extension) {
  std::optional<MusicMeta> meta;
  if (music_meta != nullptr) meta = read_music_meta(music_meta);
  Drawing drawing(std::move(note_host), std::move(style_sheet), skill, std::move(meta),
                  target_segment_seconds, std::move(generator));
  if (note_asset_extension) drawing.set_note_asset_extension(std::move(*note_asset_extension));
  return drawing;
}

PyMethodDef sus_to_svg_def = function<sus_to_svg>(
    "sus_to_svg", "sus_to_svg(" CORVANE_RENDER_PARAMS
                  ")\n--\n\nConvenience function: parse a .sus file and generate SVG in one call");
PyMethodDef sus_to_png_def = function<sus_to_png>(
    "sus_to_png",
    "sus_to_png(" CORVANE_RENDER_PARAMS
    ")\n--\n\nConvenience function: parse a .sus file and generate PNG bytes in one call");
PyMethodDef sus_to_jpg_def = function<sus_to_jpg>(
    "sus_to_jpg",
    "sus_to_jpg(" CORVANE_RENDER_PARAMS
    ", jpeg_quality=90)\n--\n\nConvenience function: parse a .sus file and generate JPEG bytes "
    "in one call");
PyMethodDef sus_to_jpeg_def = function<sus_to_jpeg>(
    "sus_to_jpeg",
    "sus_to_jpeg(" CORVANE_RENDER_PARAMS
    ", jpeg_quality=90)\n--\n\nConvenience function: parse a .sus file and generate JPEG bytes "
    "in one call");

#undef CORVANE_RENDER_PARAMS
#undef CORVANE_RENDER_NAMES

}  // namespace corvane::py

// The Python class Lyric: lyrics read from a text or a file-like object,
// handed to the Drawing class for rendering.
#include "python/classes.hpp"
#include "python/conversions.hpp"

namespace corvane::py {

using corvane::Lyric;

namespace {

constexpr Signature kLoad{"Lyric.load()", 1, "content"};
Ref load(PyObject*, const FastArgs& call) {
  auto a = bind(kLoad, call);
  return wrap(Lyric::load(read_text_or_file(a[0])));
}

Ref word_count(PyObject* self) { return to_py(Shared<Lyric>(self)->words.size()); }

PyMethodDef methods[] = {
    static_method<load>("load",
                        "load(content)\n--\n\nLoad lyrics from a string or a file-like object"),
    method_noargs<word_count>("word_count", "word_count($self)\n--\n\nGet the number of words"),
    {},
};

const ClassDef kClass{"builtins.Lyric", "Python wrapper for Lyric", methods, nullptr, nullptr,
                      false};

}  // namespace

PyTypeObject* ClassTraits<Lyric>::type() { return class_type<Lyric>(kClass); }

}  // namespace corvane::py

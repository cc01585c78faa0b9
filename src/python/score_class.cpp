// The Python class Score: opens or parses a chart, reads its metadata and
// events, changes a few metadata fields and answers the timing queries.
#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "python/classes.hpp"
#include "python/conversions.hpp"

namespace corvane::py {

using corvane::Score;

namespace {

constexpr Signature kOpen{"Score.open()", 1, "path"};
Ref open(PyObject*, const FastArgs& call) {
  auto a = bind(kOpen, call);
  return wrap(open_score(arg("path", a[0], owned_text)));
}

constexpr Signature kFromStr{"Score.from_str()", 1, "content"};
Ref from_str(PyObject*, const FastArgs& call) {
  auto a = bind(kFromStr, call);
  return wrap(Score::from_str(arg("content", a[0], to_text)));
}

Ref meta(PyObject* self) { return wrap(Shared<Score>(self)->meta); }

constexpr Signature kSetMeta{"Score.set_meta()", 0,       "title",   "artist", "difficulty",
                             "playlevel",        "jacket", "songid", "subtitle"};
Ref set_meta(PyObject* self, const FastArgs& call) {
  auto a = bind(kSetMeta, call);
  Exclusive<Score> score(self);
  // Convert everything before storing anything, so a refused value leaves
  // the metadata as it was.
  std::array<std::optional<std::string_view>, kSetMeta.names.size()> values;
  for (std::size_t i = 0; i < values.size(); ++i) {
    values[i] = opt_arg(kSetMeta.names[i], a[i], to_text);
  }
  Meta& m = score->meta;
  std::optional<std::string>* fields[] = {&m.title,  &m.artist, &m.difficulty, &m.playlevel,
                                          &m.jacket, &m.songid, &m.subtitle};
  static_assert(std::size(fields) == kSetMeta.names.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (values[i]) fields[i]->emplace(*values[i]);
  }
  return none();
}

Ref note_count(PyObject* self) { return to_py(Shared<Score>(self)->active_notes.size()); }
Ref event_count(PyObject* self) { return to_py(Shared<Score>(self)->events.size()); }
Ref title(PyObject* self) { return to_py(Shared<Score>(self)->meta.title); }
Ref artist(PyObject* self) { return to_py(Shared<Score>(self)->meta.artist); }
Ref difficulty(PyObject* self) { return to_py(Shared<Score>(self)->meta.difficulty); }
Ref playlevel(PyObject* self) { return to_py(Shared<Score>(self)->meta.playlevel); }

Ref events(PyObject* self) {
  Shared<Score> score(self);
  const auto& list = score->events;
  Ref out = check(PyList_New(static_cast<Py_ssize_t>(list.size())));
  for (std::size_t i = 0; i < list.size(); ++i) {
    PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), wrap(list[i]).release());
  }
  return out;
}

// The timing queries take the score exclusively before converting their
// arguments: the timing table may be built, and a conversion may run Python
// code that reaches for the same score.
constexpr Signature kGetTime{"Score.get_time()", 1, "bar"};
Ref get_time(PyObject* self, const FastArgs& call) {
  auto a = bind(kGetTime, call);
  Exclusive<Score> score(self);
  return to_py(score->time_at(extract_fraction_like(a[0])));
}

constexpr Signature kGetEvent{"Score.get_event()", 1, "bar"};
Ref get_event(PyObject* self, const FastArgs& call) {
  auto a = bind(kGetEvent, call);
  Exclusive<Score> score(self);
  return wrap(score->get_timed_event(extract_fraction_like(a[0])).second);
}

constexpr Signature kGetTimeDelta{"Score.get_time_delta()", 2, "bar_from", "bar_to"};
Ref get_time_delta(PyObject* self, const FastArgs& call) {
  auto a = bind(kGetTimeDelta, call);
  Exclusive<Score> score(self);
  auto from = extract_fraction_like(a[0]);
  auto to = extract_fraction_like(a[1]);
  return to_py(score->get_time_delta(from, to));
}

constexpr Signature kGetBarByTime{"Score.get_bar_by_time()", 1, "time"};
Ref get_bar_by_time(PyObject* self, const FastArgs& call) {
  auto a = bind(kGetBarByTime, call);
  Exclusive<Score> score(self);
  return to_py(score->get_bar_by_time(arg("time", a[0], to_float)));
}

PyMethodDef methods[] = {
    static_method<open>("open", "open(path)\n--\n\nOpen and parse a .sus file"),
    static_method<from_str>("from_str", "from_str(content)\n--\n\nParse from string content"),
    method<set_meta>("set_meta",
                     "set_meta($self, title=None, artist=None, difficulty=None, playlevel=None, "
                     "jacket=None, songid=None, subtitle=None)\n--\n\n"
                     "Set metadata fields (keyword args, all optional)"),
    method_noargs<note_count>("note_count", "note_count($self)\n--\n\nGet the number of active notes"),
    method_noargs<event_count>("event_count", "event_count($self)\n--\n\nGet the number of events"),
    method_noargs<title>("title", "title($self)\n--\n\nGet the title"),
    method_noargs<artist>("artist", "artist($self)\n--\n\nGet the artist"),
    method_noargs<difficulty>("difficulty", "difficulty($self)\n--\n\nGet the difficulty"),
    method_noargs<playlevel>("playlevel", "playlevel($self)\n--\n\nGet the play level"),
    method_noargs<events>("events",
                          "events($self)\n--\n\nGet all events as a list of Event objects"),
    method<get_time>("get_time", "get_time($self, bar)\n--\n\n"),
    method<get_event>("get_event", "get_event($self, bar)\n--\n\n"),
    method<get_time_delta>("get_time_delta", "get_time_delta($self, bar_from, bar_to)\n--\n\n"),
    method<get_bar_by_time>("get_bar_by_time", "get_bar_by_time($self, time)\n--\n\n"),
    {},
};

PyGetSetDef properties[] = {
    property<meta>("meta"),
    {},
};

const ClassDef kClass{
    "builtins.Score", "Python wrapper for Score", methods, properties, nullptr, false,
};

}  // namespace

Score open_score(const std::string& path) {
  try {
    return Score::open(path);
  } catch (const Error& e) {
    if (e.kind() != ErrorKind::Io) throw;
    throw Error(ErrorKind::Io, "Failed to open score: " + std::string(e.what()));
  }
}

PyTypeObject* ClassTraits<Score>::type() { return class_type<Score>(kClass); }

}  // namespace corvane::py

// The Python class Rebase: a rebase document read from JSON text, a
// file-like object or a Python dict, applied to scores to give new scores.
#include <string>
#include <string_view>

#include "python/classes.hpp"
#include "python/conversions.hpp"

namespace corvane::py {

using corvane::Rebase;
using corvane::Score;

namespace {

Rebase rebase_from_json(std::string_view text) { return parse_rebase(text, "Invalid JSON: "); }

// Any object json.dumps accepts; its errors pass through unchanged. The
// import goes through the interpreter each time, so the loaded module is
// the one used.
Rebase rebase_from_dict(PyObject* obj) {
  Ref json = check(PyImport_ImportModule("json"));
  static OnceRef dumps_name;
  PyObject* name = dumps_name.get([] { return check(PyUnicode_InternFromString("dumps")); });
  Ref text = check(PyObject_CallMethodOneArg(json.get(), name, obj));
  return parse_rebase(to_text(text.get()), "Invalid rebase dict: ");
}

constexpr Signature kLoad{"Rebase.load()", 1, "value"};
Ref load(PyObject*, const FastArgs& call) {
  auto a = bind(kLoad, call);
  if (PyDict_Check(a[0])) return wrap(rebase_from_dict(a[0]));
  return wrap(rebase_from_json(read_text_or_file(a[0])));
}

constexpr Signature kFromJson{"Rebase.from_json()", 1, "json_str"};
Ref from_json(PyObject*, const FastArgs& call) {
  auto a = bind(kFromJson, call);
  return wrap(rebase_from_json(arg("json_str", a[0], to_text)));
}

constexpr Signature kFromDict{"Rebase.from_dict()", 1, "dict"};
Ref from_dict(PyObject*, const FastArgs& call) {
  auto a = bind(kFromDict, call);
  return wrap(rebase_from_dict(a[0]));
}

constexpr Signature kLoadFromDict{"Rebase.load_from_dict()", 1, "dict"};
Ref load_from_dict(PyObject*, const FastArgs& call) {
  auto a = bind(kLoadFromDict, call);
  return wrap(rebase_from_dict(a[0]));
}

// The receiver is only read; the score is taken exclusively because its
// timing table may be built.
Ref apply_to(PyObject* self, PyObject* score_arg) {
  Shared<Rebase> rebase(self);
  Exclusive<Score> score(arg("score", score_arg, instance<Score>));
  return wrap(rebase->apply(*score));
}

constexpr Signature kApply{"Rebase.apply()", 1, "score"};
Ref apply(PyObject* self, const FastArgs& call) { return apply_to(self, bind(kApply, call)[0]); }

constexpr Signature kRebase{"Rebase.rebase()", 1, "score"};
Ref rebase(PyObject* self, const FastArgs& call) { return apply_to(self, bind(kRebase, call)[0]); }

constexpr Signature kCall{"Rebase.__call__()", 1, "score"};
Ref call(PyObject* self, PyObject* args, PyObject* kwargs) {
  return apply_to(self, bind(kCall, args, kwargs)[0]);
}

PyMethodDef methods[] = {
    static_method<load>("load", "load(value)\n--\n\n"),
    static_method<from_json>("from_json", "from_json(json_str)\n--\n\nLoad from JSON string"),
    static_method<from_dict>(
        "from_dict",
        "from_dict(dict)\n--\n\nLoad from a Python dict (serialised to JSON internally)"),
    static_method<load_from_dict>("load_from_dict", "load_from_dict(dict)\n--\n\n"),
    method<apply>("apply", "apply($self, score)\n--\n\nApply rebase to a score"),
    method<rebase>("rebase", "rebase($self, score)\n--\n\n"),
    {},
};

const PyType_Slot slots[] = {
    call_slot<call>(),
    {0, nullptr},
};

const ClassDef kClass{"builtins.Rebase", "Python wrapper for Rebase", methods, nullptr, slots,
                      false};

}  // namespace

// The core reports malformed JSON with the parser's message alone.
Rebase parse_rebase(std::string_view text, const char* prefix) {
  try {
    return Rebase::from_json(text);
  } catch (const Error& e) {
    if (e.kind() != ErrorKind::Json) throw;
    throw Error(ErrorKind::Value, prefix + std::string(e.what()));
  }
}

PyTypeObject* ClassTraits<Rebase>::type() { return class_type<Rebase>(kClass); }

}  // namespace corvane::py

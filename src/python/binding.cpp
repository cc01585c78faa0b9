#include "python/binding.hpp"

#include <cstring>
#include <new>
#include <stdexcept>

#include "numbers.hpp"

namespace corvane::py {

namespace {

// Sets `type` with a str message; messages from the core may carry bytes of
// a path, so undecodable bytes are replaced rather than losing the error.
void set_message(PyObject* type, std::string_view message) noexcept {
  const Ref text = Ref::steal(PyUnicode_DecodeUTF8(
      message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
  if (!text) return;  // the decode error (memory) is set instead
  PyErr_SetObject(type, text.get());
}

PyObject* exception_for(ErrorKind kind) noexcept {
  switch (kind) {
    case ErrorKind::Value:
    case ErrorKind::Json:
      return PyExc_ValueError;
    case ErrorKind::ZeroDivision:
      return PyExc_ZeroDivisionError;
    case ErrorKind::Overflow:
      return PyExc_OverflowError;
    case ErrorKind::Io:
      return PyExc_OSError;
    case ErrorKind::Runtime:
      return PyExc_RuntimeError;
  }
  return PyExc_RuntimeError;
}

[[noreturn]] void too_many_positional(const detail::ParamList& p, Py_ssize_t given) {
  std::string msg = p.full_name;
  msg += " takes ";
  if (p.required != p.count) {
    msg += "from ";
    append_int(msg, p.required);
    msg += " to ";
  }
  append_int(msg, p.count);
  msg += " positional arguments but ";
  append_int(msg, given);
  msg += given == 1 ? " was given" : " were given";
  throw_error(PyExc_TypeError, msg.c_str());
}

void bind_positional(const detail::ParamList& p, PyObject* const* args, Py_ssize_t nargs,
                     PyObject** out) {
  if (static_cast<std::size_t>(nargs) > p.count) too_many_positional(p, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
}

void bind_keyword(const detail::ParamList& p, PyObject* key, PyObject* value, PyObject** out) {
  if (!PyUnicode_Check(key)) throw_error(PyExc_TypeError, "keywords must be strings");
  for (std::size_t i = 0; i < p.count; ++i) {
    if (PyUnicode_CompareWithASCIIString(key, p.names[i]) != 0) continue;
    if (out[i] != nullptr) {
      std::string msg = p.full_name;
      msg += " got multiple values for argument '";
      msg += p.names[i];
      msg += '\'';
      throw_error(PyExc_TypeError, msg.c_str());
    }
    out[i] = value;
    return;
  }
  Ref msg = check(
      PyUnicode_FromFormat("%s got an unexpected keyword argument '%U'", p.full_name, key));
  PyErr_SetObject(PyExc_TypeError, msg.get());
  throw PythonError{};
}

void check_required(const detail::ParamList& p, PyObject* const* out) {
  std::size_t missing = 0;
  for (std::size_t i = 0; i < p.required; ++i) missing += out[i] == nullptr;
  if (missing == 0) return;
  std::string msg = p.full_name;
  msg += " missing ";
  append_int(msg, missing);
  msg += missing == 1 ? " required positional argument: " : " required positional arguments: ";
  std::size_t written = 0;
  for (std::size_t i = 0; i < p.required; ++i) {
    if (out[i] != nullptr) continue;
    if (written != 0) {
      if (missing > 2) msg += ',';
      msg += written == missing - 1 ? " and " : " ";
    }
    msg += '\'';
    msg += p.names[i];
    msg += '\'';
    ++written;
  }
  throw_error(PyExc_TypeError, msg.c_str());
}

bool is_numpy_bool(PyTypeObject* type) {
  Ref name = Ref::steal(PyType_GetName(type));
  if (!name) {
    PyErr_Clear();
    return false;
  }
  if (PyUnicode_CompareWithASCIIString(name.get(), "bool_") != 0 &&
      PyUnicode_CompareWithASCIIString(name.get(), "bool") != 0) {
    return false;
  }
  Ref module = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
  if (!module) {
    PyErr_Clear();
    return false;
  }
  return PyUnicode_Check(module.get()) &&
         PyUnicode_CompareWithASCIIString(module.get(), "numpy") == 0;
}

// collections.abc.Sequence, looked up once when a list argument is refused.
OnceRef sequence_abc;

}  // namespace

// ---------------------------------------------------------------------------
// Errors

void throw_python() {
  if (!PyErr_Occurred()) {
    PyErr_SetString(PyExc_SystemError, "error return without exception set");
  }
  throw PythonError{};
}

void throw_error(PyObject* type, const char* message) {
  set_message(type, message);
  throw PythonError{};
}

void throw_cast_error(PyObject* obj, const char* target) {
  PyObject* msg;
  if (obj == Py_None) {
    msg = PyUnicode_FromFormat("'None' is not an instance of '%s'", target);
  } else {
    Ref type_name = Ref::steal(PyType_GetQualName(Py_TYPE(obj)));
    if (type_name && PyUnicode_Check(type_name.get())) {
      msg = PyUnicode_FromFormat("'%U' object is not an instance of '%s'", type_name.get(),
                                 target);
    } else {
      PyErr_Clear();
      msg = PyUnicode_FromFormat("'<failed to extract type name>' object is not an instance of '%s'",
                                 target);
    }
  }
  Ref owned = check(msg);
  PyErr_SetObject(PyExc_TypeError, owned.get());
  throw PythonError{};
}

void throw_argument_error(const char* name) {
  PyObject* raised = PyErr_GetRaisedException();
  if (raised == nullptr) throw_python();
  if (!Py_IS_TYPE(raised, reinterpret_cast<PyTypeObject*>(PyExc_TypeError))) {
    PyErr_SetRaisedException(raised);
    throw PythonError{};
  }
  Ref original = Ref::steal(raised);
  Ref msg = check(PyUnicode_FromFormat("argument '%s': %S", name, raised));
  Ref renamed = check(PyObject_CallOneArg(PyExc_TypeError, msg.get()));
  PyException_SetCause(renamed.get(), PyException_GetCause(raised));
  PyErr_SetRaisedException(renamed.release());
  throw PythonError{};
}

void set_error_from_current_exception() noexcept {
  try {
    throw;
  } catch (const PythonError&) {
    if (!PyErr_Occurred()) {
      PyErr_SetString(PyExc_SystemError, "error return without exception set");
    }
  } catch (const Error& e) {
    set_message(exception_for(e.kind()), e.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    set_message(PyExc_RuntimeError, e.what());
  } catch (...) {
    PyErr_SetString(PyExc_RuntimeError, "unexpected internal failure");
  }
}

// ---------------------------------------------------------------------------
// Binding

namespace detail {

void bind_fast(const ParamList& params, const FastArgs& call, PyObject** out) {
  bind_positional(params, call.args, call.nargs, out);
  if (call.kwnames != nullptr) {
    Py_ssize_t n = PyTuple_GET_SIZE(call.kwnames);
    for (Py_ssize_t i = 0; i < n; ++i) {
      bind_keyword(params, PyTuple_GET_ITEM(call.kwnames, i), call.args[call.nargs + i], out);
    }
  }
  check_required(params, out);
}

void bind_tuple(const ParamList& params, PyObject* args, PyObject* kwargs, PyObject** out) {
  bind_positional(params, PySequence_Fast_ITEMS(args), PyTuple_GET_SIZE(args), out);
  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) bind_keyword(params, key, value, out);
  }
  check_required(params, out);
}

void check_sequence(PyObject* obj) {
  if (PyUnicode_Check(obj)) throw_error(PyExc_TypeError, "Can't extract `str` to `Vec`");
  if (PySequence_Check(obj)) return;
  // The refusal names collections.abc.Sequence; should the lookup fail, the
  // plain name still says what was expected.
  PyObject* abc = sequence_abc.get([] {
    Ref module = Ref::steal(PyImport_ImportModule("collections.abc"));
    Ref cls = module ? Ref::steal(PyObject_GetAttrString(module.get(), "Sequence")) : Ref();
    if (!cls) PyErr_Clear();
    return cls;
  });
  const char* target = "Sequence";
  if (abc != nullptr && PyType_Check(abc)) {
    target = reinterpret_cast<PyTypeObject*>(abc)->tp_name;
    if (const char* dot = std::strrchr(target, '.')) target = dot + 1;
  }
  throw_cast_error(obj, target);
}

PyTypeObject* create_type(const ClassDef& def, int basicsize, destructor dealloc) {
  PyType_Slot slots[16];
  int n = 0;
  auto add = [&](int slot, void* fn) {
    if (n >= 15) throw std::logic_error("too many type slots");
    slots[n++] = PyType_Slot{slot, fn};
  };
  add(Py_tp_dealloc, reinterpret_cast<void*>(dealloc));
  if (def.doc != nullptr) add(Py_tp_doc, const_cast<char*>(def.doc));
  if (def.methods != nullptr) add(Py_tp_methods, def.methods);
  if (def.getset != nullptr) add(Py_tp_getset, def.getset);
  for (const PyType_Slot* s = def.slots; s != nullptr && s->slot != 0; ++s) add(s->slot, s->pfunc);
  slots[n] = PyType_Slot{0, nullptr};

  unsigned int flags = Py_TPFLAGS_DEFAULT;
  if (!def.constructible) flags |= Py_TPFLAGS_DISALLOW_INSTANTIATION;
  PyType_Spec spec{def.name, basicsize, 0, flags, slots};
  return reinterpret_cast<PyTypeObject*>(check(PyType_FromSpec(&spec)).release());
}

}  // namespace detail

// ---------------------------------------------------------------------------
// Conversions

std::string_view to_text(PyObject* obj) {
  if (!PyUnicode_Check(obj)) throw_cast_error(obj, "str");
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
  if (data == nullptr) throw_python();
  return {data, static_cast<std::size_t>(size)};
}

bool to_flag(PyObject* obj) {
  if (obj == Py_True) return true;
  if (obj == Py_False) return false;
  PyTypeObject* type = Py_TYPE(obj);
  if (!is_numpy_bool(type)) throw_cast_error(obj, "bool");
  auto truth = reinterpret_cast<inquiry>(PyType_GetSlot(type, Py_nb_bool));
  if (truth == nullptr) {
    PyErr_Clear();
    Ref type_name = check(PyType_GetQualName(type));
    Ref msg = check(PyUnicode_FromFormat(
        "object of type '%U' does not define a '__bool__' conversion", type_name.get()));
    PyErr_SetObject(PyExc_TypeError, msg.get());
    throw PythonError{};
  }
  int r = truth(obj);
  if (r < 0) throw_python();
  return r != 0;
}

double to_float(PyObject* obj) {
  if (PyFloat_CheckExact(obj)) return PyFloat_AS_DOUBLE(obj);
  double d = PyFloat_AsDouble(obj);
  if (d == -1.0 && PyErr_Occurred()) throw_python();
  return d;
}

PyObject* to_dict(PyObject* obj) {
  if (!PyDict_Check(obj)) throw_cast_error(obj, "dict");
  return obj;
}

}  // namespace corvane::py

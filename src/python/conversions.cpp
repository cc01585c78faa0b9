#include "python/conversions.hpp"

#include "python/classes.hpp"

namespace corvane::py {

namespace {

// The attribute, or an empty Ref when it is absent (AttributeError); any
// other lookup failure propagates.
Ref optional_attr(PyObject* obj, const char* name) {
  Ref attr = Ref::steal(PyObject_GetAttrString(obj, name));
  if (!attr) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_python();
    PyErr_Clear();
  }
  return attr;
}

}  // namespace

std::string read_text_or_file(PyObject* obj) {
  if (PyUnicode_Check(obj)) {
    Py_ssize_t size = 0;
    if (const char* data = PyUnicode_AsUTF8AndSize(obj, &size)) {
      return std::string(data, static_cast<std::size_t>(size));
    }
    PyErr_Clear();  // lone surrogates: try the file-like readings
  }
  if (Ref read = optional_attr(obj, "read")) {
    Ref text = check(PyObject_CallNoArgs(read.get()));
    return std::string(to_text(text.get()));
  }
  if (Ref readlines = optional_attr(obj, "readlines")) {
    Ref lines = check(PyObject_CallNoArgs(readlines.get()));
    std::string joined;
    detail::check_sequence(lines.get());
    Ref it = check(PyObject_GetIter(lines.get()));
    while (Ref line = Ref::steal(PyIter_Next(it.get()))) joined += to_text(line.get());
    if (PyErr_Occurred()) throw_python();
    return joined;
  }
  throw_error(PyExc_TypeError, "expected a string or a file-like object");
}

corvane::Fraction extract_fraction_like(PyObject* obj) {
  if (is_instance<corvane::Fraction>(obj)) return *Shared<corvane::Fraction>(obj);

  long n = PyLong_AsLong(obj);
  if (!(n == -1 && PyErr_Occurred())) return corvane::Fraction(static_cast<std::int64_t>(n));
  PyErr_Clear();

  double d = PyFloat_AsDouble(obj);
  if (!(d == -1.0 && PyErr_Occurred())) return corvane::Fraction::from_f64(d);
  PyErr_Clear();

  if (PyUnicode_Check(obj)) {
    Py_ssize_t size = 0;
    if (const char* data = PyUnicode_AsUTF8AndSize(obj, &size)) {
      if (auto f = corvane::Fraction::parse(std::string_view(data, static_cast<std::size_t>(size)))) {
        return *f;
      }
    } else {
      PyErr_Clear();
    }
  }
  throw_error(PyExc_TypeError, "expected a Fraction-compatible value");
}

}  // namespace corvane::py

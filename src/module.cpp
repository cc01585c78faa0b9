// The extension module's entry point: multi-phase initialisation with one
// exec step that puts the classes and functions on the module, in a fixed
// order, each name also appended to __all__.
#include <array>

#include "python/binding.hpp"
#include "python/classes.hpp"

namespace corvane::py {
namespace {

struct ClassEntry {
  const char* name;
  PyTypeObject* (*type)();
};

// Registration order is part of the interface: it is the order of __all__.
const ClassEntry kClasses[] = {
    {ClassTraits<corvane::Fraction>::name, &ClassTraits<corvane::Fraction>::type},
    {ClassTraits<corvane::Meta>::name, &ClassTraits<corvane::Meta>::type},
    {ClassTraits<corvane::Event>::name, &ClassTraits<corvane::Event>::type},
    {ClassTraits<corvane::Score>::name, &ClassTraits<corvane::Score>::type},
    {ClassTraits<corvane::Lyric>::name, &ClassTraits<corvane::Lyric>::type},
    {ClassTraits<corvane::Rebase>::name, &ClassTraits<corvane::Rebase>::type},
    {ClassTraits<PyDrawing>::name, &ClassTraits<PyDrawing>::type},
};

// Module-level functions, registered after the classes in this order.
const std::array<PyMethodDef*, 4> kFunctions{&sus_to_svg_def, &sus_to_png_def, &sus_to_jpg_def,
                                              &sus_to_jpeg_def};

OnceRef all_name;
OnceRef name_name;

PyObject* interned(OnceRef& cell, const char* text) {
  return cell.get([text] { return check(PyUnicode_InternFromString(text)); });
}

// Appends `name` to the module's __all__ (made when absent), then sets the
// attribute; the name reaches __all__ first.
void add(PyObject* module, PyObject* name, PyObject* value) {
  PyObject* all_key = interned(all_name, "__all__");
  Ref all = Ref::steal(PyObject_GetAttr(module, all_key));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_python();
    PyErr_Clear();
    all = check(PyList_New(0));
    check_status(PyObject_SetAttr(module, all_key, all.get()));
  } else if (!PyList_Check(all.get())) {
    throw_cast_error(all.get(), "list");
  }
  check_status(PyList_Append(all.get(), name));
  check_status(PyObject_SetAttr(module, name, value));
}

void register_all(PyObject* module) {
  for (const ClassEntry& entry : kClasses) {
    PyObject* type = reinterpret_cast<PyObject*>(entry.type());
    Ref name = check(PyUnicode_FromString(entry.name));
    add(module, name.get(), type);
  }
  if (kFunctions.empty()) return;
  Ref module_name = check(PyModule_GetNameObject(module));
  for (PyMethodDef* def : kFunctions) {
    Ref fn = check(PyCMethod_New(def, module, module_name.get(), nullptr));
    Ref name = check(PyObject_GetAttr(fn.get(), interned(name_name, "__name__")));
    if (!PyUnicode_Check(name.get())) throw_cast_error(name.get(), "str");
    add(module, name.get(), fn.get());
  }
}

int exec_module(PyObject* module) noexcept {
  return boundary(
      [module] {
        if (!PyModule_Check(module)) throw_cast_error(module, "module");
        register_all(module);
        return 0;
      },
      -1);
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "corvane_scores_rs",
    "",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace corvane::py

PyMODINIT_FUNC PyInit_corvane_scores_rs() {
  return PyModuleDef_Init(&corvane::py::module_def);
}

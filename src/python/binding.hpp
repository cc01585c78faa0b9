#pragma once
// The binding layer between CPython and the core. Everything a class or a
// module function needs lives here: owned references, the bridge from C++
// exceptions to Python exceptions, argument binding, the standard argument
// conversions, result conversions, borrow flags and the generic class-object
// layout. Class files are then mostly member tables.
//
// Error model: code below a C-API boundary never returns error codes. A
// Python exception is set and `PythonError` thrown (throw_python, throw_error,
// throw_cast_error), or a corvane::Error is thrown; the boundary templates
// (method<>, property<>, slots) turn whatever arrives into the Python
// exception and the C-API error return.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <atomic>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "error.hpp"
#include "fraction.hpp"

namespace corvane::py {

// ---------------------------------------------------------------------------
// Owned references
// ---------------------------------------------------------------------------

// Owns one strong reference (or none).
class Ref {
 public:
  constexpr Ref() noexcept = default;
  static Ref steal(PyObject* o) noexcept {
    Ref r;
    r.p_ = o;
    return r;
  }
  static Ref borrow(PyObject* o) noexcept {
    Py_XINCREF(o);
    return steal(o);
  }
  Ref(const Ref& o) noexcept : p_(o.p_) { Py_XINCREF(p_); }
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Ref& operator=(Ref o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~Ref() { Py_XDECREF(p_); }

  PyObject* get() const noexcept { return p_; }
  PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  PyObject* p_ = nullptr;
};

// A process-lifetime object built on first use under the interpreter lock.
// Two threads may race to build it (the lock can be dropped inside `make`);
// the first stored result wins and the other is dropped, so no thread ever
// blocks on another while holding the lock.
class OnceRef {
 public:
  constexpr OnceRef() noexcept = default;
  template <class F>
  PyObject* get(F&& make) {
    if (p_ == nullptr) {
      Ref made = make();
      if (p_ == nullptr) p_ = made.release();
    }
    return p_;
  }

 private:
  PyObject* p_ = nullptr;
};

// ---------------------------------------------------------------------------
// Errors
// ---------------------------------------------------------------------------

// Thrown once a Python exception has been set; boundaries leave it in place.
struct PythonError {};

// An exception is already set by a failed C-API call.
[[noreturn]] void throw_python();
[[noreturn]] void throw_error(PyObject* type, const char* message);
// TypeError "'{type}' object is not an instance of '{target}'".
[[noreturn]] void throw_cast_error(PyObject* obj, const char* target);
// A new reference, or throw_python() when the C-API call returned NULL.
inline Ref check(PyObject* result) {
  if (result == nullptr) throw_python();
  return Ref::steal(result);
}
inline void check_status(int status) {
  if (status < 0) throw_python();
}
// Sets the Python exception for the exception being handled; call only
// inside a catch block.
void set_error_from_current_exception() noexcept;

// Runs `body` at a C-API boundary: its result, or `on_error` with the Python
// exception set. Nothing escapes.
template <class F, class R>
R boundary(F&& body, R on_error) noexcept {
  try {
    return body();
  } catch (...) {
    set_error_from_current_exception();
    return on_error;
  }
}

// ---------------------------------------------------------------------------
// Argument binding
// ---------------------------------------------------------------------------

// A callable's fixed parameter list: `full_name` as it appears in binding
// messages ("Score.get_time_delta()", "sus_to_svg()"), the number of leading
// required parameters, and the parameter names.
template <std::size_t N>
struct Signature {
  template <class... Names>
  constexpr Signature(const char* full, std::size_t req, Names... n)
      : full_name(full), required(req), names{n...} {}
  const char* full_name;
  std::size_t required;
  std::array<const char*, N> names;
};
template <class... Names>
Signature(const char*, std::size_t, Names...) -> Signature<sizeof...(Names)>;

// The raw arguments of a fast-call with keywords.
struct FastArgs {
  PyObject* const* args;
  Py_ssize_t nargs;
  PyObject* kwnames;
};

// Bound arguments in parameter order: borrowed, nullptr where not given.
template <std::size_t N>
using Bound = std::array<PyObject*, N>;

namespace detail {
struct ParamList {
  const char* full_name;
  const char* const* names;
  std::size_t count;
  std::size_t required;
};
void bind_fast(const ParamList& params, const FastArgs& call, PyObject** out);
void bind_tuple(const ParamList& params, PyObject* args, PyObject* kwargs, PyObject** out);
}  // namespace detail

template <std::size_t N>
Bound<N> bind(const Signature<N>& sig, const FastArgs& call) {
  Bound<N> out{};
  detail::bind_fast({sig.full_name, sig.names.data(), N, sig.required}, call, out.data());
  return out;
}
// For the tuple-and-dict slots (construction, the call of an object).
template <std::size_t N>
Bound<N> bind(const Signature<N>& sig, PyObject* args, PyObject* kwargs) {
  Bound<N> out{};
  detail::bind_tuple({sig.full_name, sig.names.data(), N, sig.required}, args, kwargs, out.data());
  return out;
}

// ---------------------------------------------------------------------------
// Standard conversions (Python -> native). Each throws with the Python
// exception set. Wrap them in arg()/opt_arg() to name the argument.
// ---------------------------------------------------------------------------

// str or subclass as UTF-8; the view lives as long as the object.
std::string_view to_text(PyObject* obj);
// The same, copied: for text kept beyond the object's life.
inline std::string owned_text(PyObject* obj) { return std::string(to_text(obj)); }
// Exactly True/False, or a numpy boolean scalar by its truth value.
bool to_flag(PyObject* obj);
// Anything PyFloat_AsDouble accepts.
double to_float(PyObject* obj);
// A dict or subclass; returns the object itself.
PyObject* to_dict(PyObject* obj);

// Anything PyLong_AsLong accepts whose value fits I.
template <std::integral I>
I to_integer(PyObject* obj) {
  static_assert(sizeof(long) == 8, "the integer conversion assumes a 64-bit C long");
  long v = PyLong_AsLong(obj);
  if (v == -1 && PyErr_Occurred()) throw_python();
  if constexpr (!std::is_same_v<I, long> && !std::is_same_v<I, long long>) {
    if (!std::in_range<I>(v)) {
      throw_error(PyExc_OverflowError, "out of range integral type conversion attempted");
    }
  }
  return static_cast<I>(v);
}

namespace detail {
// Refuses a str and a non-sequence with the list conversion's errors.
void check_sequence(PyObject* obj);
}  // namespace detail

// A sequence other than a str, each item through `item` in iteration order.
template <class T, class F>
std::vector<T> to_list(PyObject* obj, F&& item) {
  detail::check_sequence(obj);
  std::vector<T> out;
  // The length only sizes the reservation; asking for it may fail harmlessly,
  // and a __len__ may claim anything, so the reservation is capped and the
  // items themselves decide the size.
  constexpr Py_ssize_t kMaxReserve = 4096;
  Py_ssize_t n = PySequence_Size(obj);
  if (n < 0) {
    PyErr_Clear();
  } else {
    out.reserve(static_cast<std::size_t>(n < kMaxReserve ? n : kMaxReserve));
  }
  Ref it = check(PyObject_GetIter(obj));
  while (Ref x = Ref::steal(PyIter_Next(it.get()))) out.push_back(item(x.get()));
  if (PyErr_Occurred()) throw_python();
  return out;
}

// Re-raises the current TypeError as "argument '{name}': {message}" keeping
// its cause; any other exception stays as it is.
[[noreturn]] void throw_argument_error(const char* name);

// Converts one bound argument, naming it in a TypeError.
template <class F>
auto arg(const char* name, PyObject* obj, F&& convert) -> decltype(convert(obj)) {
  try {
    return convert(obj);
  } catch (const PythonError&) {
    throw_argument_error(name);
  }
}
// An optional parameter (default None): not given and None are both absent.
template <class F>
auto opt_arg(const char* name, PyObject* obj, F&& convert)
    -> std::optional<std::decay_t<decltype(convert(obj))>> {
  if (obj == nullptr || obj == Py_None) return std::nullopt;
  return arg(name, obj, std::forward<F>(convert));
}
// A parameter with a non-None default: only a missing argument takes it.
template <class F, class D>
auto arg_or(const char* name, PyObject* obj, F&& convert, D fallback)
    -> std::decay_t<decltype(convert(obj))> {
  if (obj == nullptr) return fallback;
  return arg(name, obj, std::forward<F>(convert));
}

// ---------------------------------------------------------------------------
// Results (native -> Python)
// ---------------------------------------------------------------------------

inline Ref none() { return Ref::borrow(Py_None); }
inline Ref py_bool(bool b) { return Ref::borrow(b ? Py_True : Py_False); }
inline Ref to_py(std::string_view s) {
  return check(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
}
inline Ref to_py(double d) { return check(PyFloat_FromDouble(d)); }
template <std::integral I>
  requires(!std::is_same_v<I, bool>)
Ref to_py(I i) {
  if constexpr (std::is_signed_v<I>) {
    return check(PyLong_FromLongLong(static_cast<long long>(i)));
  } else {
    return check(PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(i)));
  }
}
// A new Fraction object (defined with the Fraction class).
Ref to_py(corvane::Fraction f);
// Absent gives None.
template <class T>
Ref to_py(const std::optional<T>& v) {
  if (!v) return none();
  return to_py(*v);
}

// ---------------------------------------------------------------------------
// Borrow flags and class objects
// ---------------------------------------------------------------------------

// 0: free; n: n shared borrows; all ones: one exclusive borrow.
class BorrowFlag {
 public:
  static constexpr std::uintptr_t kExclusive = ~std::uintptr_t{0};

  void acquire_shared() {
    std::uintptr_t v = flag_.load(std::memory_order_relaxed);
    do {
      if (v == kExclusive) throw_error(PyExc_RuntimeError, "Already mutably borrowed");
    } while (!flag_.compare_exchange_weak(v, v + 1, std::memory_order_acquire,
                                          std::memory_order_relaxed));
  }
  void release_shared() noexcept { flag_.fetch_sub(1, std::memory_order_release); }
  void acquire_exclusive() {
    std::uintptr_t expected = 0;
    if (!flag_.compare_exchange_strong(expected, kExclusive, std::memory_order_acquire,
                                       std::memory_order_relaxed)) {
      throw_error(PyExc_RuntimeError, "Already borrowed");
    }
  }
  void release_exclusive() noexcept { flag_.store(0, std::memory_order_release); }

 private:
  std::atomic<std::uintptr_t> flag_{0};
};

// The layout of every instance: header, native value, borrow flag.
template <class T>
struct PyClass {
  PyObject_HEAD
  T value;
  BorrowFlag flag;

  static PyClass* from(PyObject* o) noexcept { return reinterpret_cast<PyClass*>(o); }
};

// Per-class facts, specialised for each class in classes.hpp:
//   static constexpr const char* name;   // "Score": cast-error target
//   static PyTypeObject* type();         // built once, kept for the process
template <class T>
struct ClassTraits;

// Shared borrow of an instance's value for the guard's lifetime.
template <class T>
class Shared {
 public:
  explicit Shared(PyObject* obj) : obj_(PyClass<T>::from(obj)) { obj_->flag.acquire_shared(); }
  Shared(const Shared&) = delete;
  Shared& operator=(const Shared&) = delete;
  ~Shared() { obj_->flag.release_shared(); }
  const T& operator*() const noexcept { return obj_->value; }
  const T* operator->() const noexcept { return &obj_->value; }

 private:
  PyClass<T>* obj_;
};

// Exclusive borrow of an instance's value for the guard's lifetime.
template <class T>
class Exclusive {
 public:
  explicit Exclusive(PyObject* obj) : obj_(PyClass<T>::from(obj)) {
    obj_->flag.acquire_exclusive();
  }
  Exclusive(const Exclusive&) = delete;
  Exclusive& operator=(const Exclusive&) = delete;
  ~Exclusive() { obj_->flag.release_exclusive(); }
  T& operator*() const noexcept { return obj_->value; }
  T* operator->() const noexcept { return &obj_->value; }

 private:
  PyClass<T>* obj_;
};

// The class-instance conversion: obj itself, or the cast error naming T.
template <class T>
PyObject* instance(PyObject* obj) {
  if (!PyObject_TypeCheck(obj, ClassTraits<T>::type())) {
    throw_cast_error(obj, ClassTraits<T>::name);
  }
  return obj;
}
template <class T>
bool is_instance(PyObject* obj) {
  return PyObject_TypeCheck(obj, ClassTraits<T>::type());
}

// A new instance of T's class owning `value`.
template <class T>
Ref wrap(T value) {
  static_assert(std::is_nothrow_move_constructible_v<T>);
  PyTypeObject* type = ClassTraits<T>::type();
  PyObject* o = type->tp_alloc(type, 0);
  if (o == nullptr) throw_python();
  auto* c = PyClass<T>::from(o);
  std::construct_at(&c->value, std::move(value));
  std::construct_at(&c->flag);
  return Ref::steal(o);
}

// What a class is made of. Tables must have static storage duration.
struct ClassDef {
  const char* name;             // "builtins.Score"
  const char* doc;              // nullptr: no docstring
  PyMethodDef* methods;         // terminated by {}; nullptr: none
  PyGetSetDef* getset;          // terminated by {}; nullptr: none
  const PyType_Slot* slots;     // extra slots, terminated by {0, nullptr}; nullptr: none
  bool constructible;           // false: calling the class raises TypeError
};

namespace detail {
PyTypeObject* create_type(const ClassDef& def, int basicsize, destructor dealloc);

template <class T>
void dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  auto* c = PyClass<T>::from(self);
  std::destroy_at(&c->flag);
  std::destroy_at(&c->value);
  PyBaseObject_Type.tp_free(self);
  Py_DECREF(type);  // instances of heap types own a reference to their type
}
}  // namespace detail

// T's type object, built from `def` on first use and kept for the process.
template <class T>
PyTypeObject* class_type(const ClassDef& def) {
  static OnceRef cell;
  return reinterpret_cast<PyTypeObject*>(cell.get([&] {
    return Ref::steal(reinterpret_cast<PyObject*>(
        detail::create_type(def, static_cast<int>(sizeof(PyClass<T>)), &detail::dealloc<T>)));
  }));
}

// ---------------------------------------------------------------------------
// Member tables: trampolines from C-API signatures to C++ bodies
// ---------------------------------------------------------------------------

// Bodies. `self` is the instance (the module for module functions, nullptr
// for static methods).
using MethodBody = Ref (*)(PyObject* self, const FastArgs& call);
using NoArgsBody = Ref (*)(PyObject* self);
using GetBody = Ref (*)(PyObject* self);
using SetBody = void (*)(PyObject* self, PyObject* value);
using NewBody = Ref (*)(PyTypeObject* type, PyObject* args, PyObject* kwargs);
using CallBody = Ref (*)(PyObject* self, PyObject* args, PyObject* kwargs);

namespace detail {
template <MethodBody F>
PyObject* fast_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) noexcept {
  return boundary([&] { return F(self, FastArgs{args, nargs, kwnames}).release(); },
                  static_cast<PyObject*>(nullptr));
}
template <NoArgsBody F>
PyObject* noargs_entry(PyObject* self, PyObject*) noexcept {
  return boundary([&] { return F(self).release(); }, static_cast<PyObject*>(nullptr));
}
template <GetBody F>
PyObject* get_entry(PyObject* self, void*) noexcept {
  return boundary([&] { return F(self).release(); }, static_cast<PyObject*>(nullptr));
}
template <SetBody F>
int set_entry(PyObject* self, PyObject* value, void*) noexcept {
  return boundary(
      [&] {
        if (value == nullptr) throw_error(PyExc_AttributeError, "property has no deleter");
        F(self, value);
        return 0;
      },
      -1);
}
template <NewBody F>
PyObject* new_entry(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return boundary([&] { return F(type, args, kwargs).release(); },
                  static_cast<PyObject*>(nullptr));
}
template <CallBody F>
PyObject* call_entry(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
  return boundary([&] { return F(self, args, kwargs).release(); },
                  static_cast<PyObject*>(nullptr));
}
template <GetBody F>
PyObject* unary_entry(PyObject* self) noexcept {
  return boundary([&] { return F(self).release(); }, static_cast<PyObject*>(nullptr));
}
template <class Fn>
PyCFunction as_cfunction(Fn f) noexcept {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}
}  // namespace detail

// An instance method (or module function) with parameters.
template <MethodBody F>
PyMethodDef method(const char* name, const char* doc) {
  return {name, detail::as_cfunction(&detail::fast_entry<F>), METH_FASTCALL | METH_KEYWORDS, doc};
}
// A module-level function: a method whose `self` is the module.
template <MethodBody F>
PyMethodDef function(const char* name, const char* doc) {
  return method<F>(name, doc);
}
template <MethodBody F>
PyMethodDef static_method(const char* name, const char* doc) {
  return {name, detail::as_cfunction(&detail::fast_entry<F>),
          METH_FASTCALL | METH_KEYWORDS | METH_STATIC, doc};
}
// A method without parameters; the interpreter refuses any argument.
template <NoArgsBody F>
PyMethodDef method_noargs(const char* name, const char* doc) {
  return {name, detail::as_cfunction(&detail::noargs_entry<F>), METH_NOARGS, doc};
}
// Read-only property (assigning raises the interpreter's AttributeError).
template <GetBody G>
PyGetSetDef property(const char* name) {
  return {name, &detail::get_entry<G>, nullptr, nullptr, nullptr};
}
// Read-write property; deleting raises AttributeError "property has no deleter".
template <GetBody G, SetBody S>
PyGetSetDef property(const char* name) {
  return {name, &detail::get_entry<G>, &detail::set_entry<S>, nullptr, nullptr};
}

// Type slots.
template <NewBody F>
PyType_Slot new_slot() {
  return {Py_tp_new, reinterpret_cast<void*>(&detail::new_entry<F>)};
}
template <CallBody F>
PyType_Slot call_slot() {
  return {Py_tp_call, reinterpret_cast<void*>(&detail::call_entry<F>)};
}
// A unary slot such as Py_tp_str, Py_tp_repr or Py_nb_float.
template <GetBody F>
PyType_Slot unary_slot(int slot) {
  return {slot, reinterpret_cast<void*>(&detail::unary_entry<F>)};
}

}  // namespace corvane::py

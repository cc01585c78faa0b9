// The Python class Fraction: one immutable exact fraction.
#include <cstdint>

#include "python/classes.hpp"

namespace corvane::py {

using corvane::Fraction;

Ref to_py(Fraction f) { return wrap(f); }

namespace {

constexpr std::int64_t kDefaultMaxDenominator = 1000000;

constexpr Signature kNew{"Fraction.__new__()", 1, "numerator", "denominator"};
Ref construct(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  auto a = bind(kNew, args, kwargs);
  auto numerator = arg("numerator", a[0], to_integer<std::int64_t>);
  auto denominator = arg_or("denominator", a[1], to_integer<std::int64_t>, std::int64_t{1});
  return wrap(Fraction(numerator, denominator));
}

Ref numerator(PyObject* self) { return to_py(Shared<Fraction>(self)->numerator()); }
Ref denominator(PyObject* self) { return to_py(Shared<Fraction>(self)->denominator()); }

constexpr Signature kLimit{"Fraction.limit_denominator()", 1, "max_denominator"};
Ref limit_denominator(PyObject* self, const FastArgs& call) {
  auto a = bind(kLimit, call);
  Shared<Fraction> value(self);
  auto bound = opt_arg("max_denominator", a[0], to_integer<std::int64_t>);
  return wrap(value->limit_denominator(bound.value_or(kDefaultMaxDenominator)));
}

Ref as_float(PyObject* self) { return to_py(Shared<Fraction>(self)->to_double()); }
Ref as_text(PyObject* self) { return to_py(Shared<Fraction>(self)->fmt()); }

PyMethodDef methods[] = {
    method<limit_denominator>("limit_denominator", "limit_denominator($self, max_denominator)\n--\n\n"),
    {},
};

PyGetSetDef properties[] = {
    property<numerator>("numerator"),
    property<denominator>("denominator"),
    {},
};

const PyType_Slot slots[] = {
    new_slot<construct>(),
    unary_slot<as_float>(Py_nb_float),
    unary_slot<as_text>(Py_tp_str),
    unary_slot<as_text>(Py_tp_repr),
    {0, nullptr},
};

const ClassDef kClass{
    "builtins.Fraction", "Fraction(numerator, denominator=1)\n--\n\n", methods, properties, slots,
    true,
};

}  // namespace

PyTypeObject* ClassTraits<Fraction>::type() { return class_type<Fraction>(kClass); }

}  // namespace corvane::py

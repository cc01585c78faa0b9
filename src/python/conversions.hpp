#pragma once
// The two loose argument readings: a text or something to read a text from,
// and anything that stands for a bar position. Their errors carry no
// argument name.
#include <string>

#include "fraction.hpp"
#include "python/binding.hpp"

namespace corvane::py {

// A str, else the result of obj.read(), else the joined obj.readlines();
// TypeError "expected a string or a file-like object" when none applies.
std::string read_text_or_file(PyObject* obj);

// A Fraction object, an int, a float or a fraction text; TypeError
// "expected a Fraction-compatible value" when none applies. A text with a
// zero denominator raises the core's ZeroDivisionError.
corvane::Fraction extract_fraction_like(PyObject* obj);

}  // namespace corvane::py

#pragma once
// The core's one exception type: a kind that the Python layer maps to an
// exception class, and a message it passes through unchanged.
#include <stdexcept>
#include <string>

namespace corvane {

enum class ErrorKind {
  Value,         // ValueError
  ZeroDivision,  // ZeroDivisionError
  Overflow,      // OverflowError
  Io,            // OSError
  Json,          // ValueError; callers add their own prefix
  Runtime,       // RuntimeError
};

class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, const std::string& message)
      : std::runtime_error(message), kind_(kind) {}
  ErrorKind kind() const noexcept { return kind_; }

 private:
  ErrorKind kind_;
};

}  // namespace corvane

#pragma once
// Elements written from one template each:
//
//   append_markup<R"svg(<line x1="{}" y1="{}" x2="{}" y2="{}" class="{}"/>)svg">(out, x1, y1, x2, y2,
//                                                                         "tick-line");
//
// The template is split at its "{}" placeholders at compile time and each
// argument's type chooses its form:
//
//   an integer           decimal
//   double               the integer form (round half to even), the form of
//                        every coordinate and size unless another is named
//   Shortest{v}          shortest round-trip text, positional
//   Fixed{v, n}          n decimals
//   G{v}                 format_g
//   std::string_view     the text as it is (class names, ids, prepared text)
//   Escaped{t}           escape_xml(t)
//
// A type of another module gets a form by specialising MarkupArg (see the
// slide outline). An element is assembled in a stack buffer and appended to
// the output in one piece: the literal runs are copies of known length, and a
// run of numbers between two texts needs one room check, not one per number.
#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "drawing/format.hpp"

namespace corvane {

struct Shortest {
  double value;
};
struct Fixed {
  double value;
  int decimals;
};
struct G {
  double value;
};
struct Escaped {
  std::string_view text;
};
struct ZeroPadded {
  std::uint64_t value;
  int width;
};

// The buffer an element is assembled in, flushed to the output text when a
// piece does not fit and at the end of the element.
class MarkupSink {
 public:
  static constexpr std::size_t kCapacity = 512;

  explicit MarkupSink(std::string& out) noexcept : target_(out), pos_(buf_) {}
  MarkupSink(const MarkupSink&) = delete;
  MarkupSink& operator=(const MarkupSink&) = delete;

  // Makes room for `bytes` (at most kCapacity) in the buffer.
  void reserve(std::size_t bytes) {
    if (static_cast<std::size_t>(buf_ + kCapacity - pos_) < bytes) flush();
  }
  // The unchecked writers: the caller has made room.
  void put_unchecked(std::string_view piece) noexcept {
    std::memcpy(pos_, piece.data(), piece.size());
    pos_ += piece.size();
  }
  template <std::integral I>
  void put_int_unchecked(I value) noexcept {
    using Wide = std::conditional_t<std::is_signed_v<I>, std::int64_t, std::uint64_t>;
    pos_ = write_int(pos_, static_cast<Wide>(value));
  }
  // The checked writers.
  void text(std::string_view t) {
    if (t.size() > static_cast<std::size_t>(buf_ + kCapacity - pos_)) {
      flush();
      if (t.size() > kCapacity) {
        target_.append(t);
        return;
      }
    }
    put_unchecked(t);
  }
  void escaped(std::string_view t) {
    // An escaped byte takes at most 6 bytes ("&quot;").
    if (t.size() <= kCapacity / 6) {
      reserve(6 * t.size());
      pos_ = copy_escaped(pos_, t);
      return;
    }
    flush();
    append_escaped(target_, t);
  }
  // The output text itself, everything before written, for the forms that
  // write there directly.
  std::string& spill() {
    flush();
    return target_;
  }
  void flush() {
    if (pos_ == buf_) return;
    target_.append(buf_, static_cast<std::size_t>(pos_ - buf_));
    pos_ = buf_;
  }

  static constexpr std::size_t kIntegerBytes = kMaxIntegerChars;

 private:
  std::string& target_;
  char* pos_;
  char buf_[kCapacity];
};

// Placeholder for a type with no markup form.
inline constexpr std::size_t kUnbounded = static_cast<std::size_t>(-1);

// The form of one argument type: `bound` is the most bytes it writes, or
// kUnbounded for a writer that makes its own room; `put` writes it.
template <class A>
struct MarkupArg {
  static_assert(sizeof(A) == 0,
                "no markup form for this type: pass a text as std::string_view (as it is) or "
                "Escaped{} (escaped), a double for its integer form");
};

template <std::integral I>
  requires(!std::same_as<I, bool> && !std::same_as<I, char>)
struct MarkupArg<I> {
  static constexpr std::size_t bound = MarkupSink::kIntegerBytes;
  static void put(MarkupSink& sink, I value) noexcept { sink.put_int_unchecked(value); }
};

template <>
struct MarkupArg<double> {
  static constexpr std::size_t bound = MarkupSink::kIntegerBytes;
  static void put(MarkupSink& sink, double value) noexcept {
    sink.put_int_unchecked(round_even(value));
  }
};

template <>
struct MarkupArg<ZeroPadded> {
  static constexpr std::size_t bound = MarkupSink::kIntegerBytes;
  static void put(MarkupSink& sink, ZeroPadded z) noexcept {
    char digits[MarkupSink::kIntegerBytes];
    const char* const end = write_int(digits, z.value);
    const auto count = static_cast<std::size_t>(end - digits);
    const std::size_t width = z.width < 0 ? 0 : static_cast<std::size_t>(z.width);
    for (std::size_t k = count; k < width && k < MarkupSink::kIntegerBytes; ++k) {
      sink.put_unchecked("0");
    }
    sink.put_unchecked(std::string_view(digits, count));
  }
};

template <>
struct MarkupArg<std::string_view> {
  static constexpr std::size_t bound = kUnbounded;
  static void put(MarkupSink& sink, std::string_view text) { sink.text(text); }
};

template <>
struct MarkupArg<const char*> {
  static constexpr std::size_t bound = kUnbounded;
  static void put(MarkupSink& sink, const char* text) { sink.text(text); }
};

template <std::size_t N>
struct MarkupArg<char[N]> {
  static constexpr std::size_t bound = kUnbounded;
  static void put(MarkupSink& sink, const char (&text)[N]) {
    sink.text(std::string_view(text, N - 1));
  }
};

template <>
struct MarkupArg<Escaped> {
  static constexpr std::size_t bound = kUnbounded;
  static void put(MarkupSink& sink, Escaped e) { sink.escaped(e.text); }
};

template <>
struct MarkupArg<Shortest> {
  static constexpr std::size_t bound = kUnbounded;
  static void put(MarkupSink& sink, Shortest s) { append_shortest(sink.spill(), s.value); }
};

template <>
struct MarkupArg<Fixed> {
  static constexpr std::size_t bound = kUnbounded;
  static void put(MarkupSink& sink, Fixed f) { append_fixed(sink.spill(), f.value, f.decimals); }
};

template <>
struct MarkupArg<G> {
  static constexpr std::size_t bound = kUnbounded;
  static void put(MarkupSink& sink, G g) { append_format_g(sink.spill(), g.value); }
};

namespace markup_detail {

// A template as a template argument: the characters of a string literal.
template <std::size_t N>
struct Template {
  char chars[N];
  consteval Template(const char (&text)[N]) {  // NOLINT: implicit on purpose
    for (std::size_t i = 0; i < N; ++i) chars[i] = text[i];
  }
};

// The literal pieces of template T around its placeholders. Scanned by
// index: the sanitizer builds do not fold library searches over a template
// argument's characters.
template <Template T>
struct Pieces {
  static constexpr std::size_t size = sizeof(T.chars) - 1;
  static constexpr bool hole_at(std::size_t i) {
    return i + 1 < size && T.chars[i] == '{' && T.chars[i + 1] == '}';
  }
  static constexpr std::size_t holes = [] {
    std::size_t n = 0;
    for (std::size_t i = 0; i < size; ++i) {
      if (hole_at(i)) {
        ++n;
        ++i;
      }
    }
    return n;
  }();
  static constexpr std::array<std::string_view, holes + 1> pieces = [] {
    std::array<std::string_view, holes + 1> out{};
    std::size_t k = 0;
    std::size_t from = 0;
    for (std::size_t i = 0; i < size; ++i) {
      if (hole_at(i)) {
        out[k++] = std::string_view(T.chars + from, i - from);
        ++i;
        from = i + 1;
      }
    }
    out[holes] = std::string_view(T.chars + from, size - from);
    return out;
  }();
};

// run[i]: the bytes that piece i and what follows it need, up to the next
// argument that makes its own room (or the end).
template <class P, std::size_t N>
consteval std::array<std::size_t, N + 1> runs(const std::array<std::size_t, N>& bounds) {
  std::array<std::size_t, N + 1> run{};
  run[N] = P::pieces[N].size();
  for (std::size_t k = N; k-- > 0;) {
    run[k] = P::pieces[k].size() + (bounds[k] == kUnbounded ? 0 : bounds[k] + run[k + 1]);
  }
  return run;
}

template <std::size_t N>
consteval bool fits(const std::array<std::size_t, N>& run) {
  for (const std::size_t r : run) {
    if (r > MarkupSink::kCapacity) return false;
  }
  return true;
}

template <class P, std::size_t I, std::size_t NextRun, class A>
inline void write_item(MarkupSink& sink, const A& arg) {
  sink.put_unchecked(P::pieces[I]);
  MarkupArg<A>::put(sink, arg);
  if constexpr (MarkupArg<A>::bound == kUnbounded) sink.reserve(NextRun);
}

}  // namespace markup_detail

// Writes template T with its placeholders filled by `args`, in order, into
// a sink: the form for a MarkupArg that writes several pieces.
template <markup_detail::Template T, class... A>
void write_markup(MarkupSink& sink, const A&... args) {
  using P = markup_detail::Pieces<T>;
  constexpr std::size_t n = sizeof...(A);
  static_assert(P::holes == n, "one argument per {} of the template");
  constexpr std::array<std::size_t, n> bounds{MarkupArg<A>::bound...};
  constexpr std::array<std::size_t, n + 1> run = markup_detail::runs<P>(bounds);
  static_assert(markup_detail::fits(run), "a run of the template does not fit the element buffer");
  sink.reserve(run[0]);
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    (markup_detail::write_item<P, I, run[I + 1]>(sink, args), ...);
  }(std::make_index_sequence<n>{});
  sink.put_unchecked(P::pieces[n]);
}

// Appends template T with its placeholders filled by `args`, in order.
template <markup_detail::Template T, class... A>
void append_markup(std::string& out, const A&... args) {
  MarkupSink sink(out);
  write_markup<T>(sink, args...);
  sink.flush();
}

}  // namespace corvane

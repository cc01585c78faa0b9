// Lyric::load on arbitrary bytes: it never fails, and every word it yields is
// a non-empty part of one line at a bar not below its line's base.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_support.hpp"
#include "lyric.hpp"

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const Lyric lyric = Lyric::load(text);
  for (const Word& w : lyric.words) {
    fuzz::check(!w.text.empty(), "empty word");
    fuzz::check(w.text.find('/') == std::string::npos, "word holds a slash");
    fuzz::check(w.text.find('\n') == std::string::npos, "word holds a line feed");
    fuzz::check(!(w.bar < Fraction(0)), "word before bar 0");
    fuzz::check(text.find(w.text) != std::string_view::npos, "word not taken from the text");
  }
  return 0;
}

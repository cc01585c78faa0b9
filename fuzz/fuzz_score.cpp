// Score::from_str on arbitrary bytes. The reader must survive any text:
// corvane::Error is an expected outcome, anything else is a finding. Bytes
// are fed as they come: the reader matches with PCRE2's invalid-UTF mode and
// decodes malformed bytes as U+FFFD, so invalid UTF-8 is handled, not assumed
// away.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz_support.hpp"
#include "score.hpp"

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Score score;
  try {
    score = Score::from_str(text);
  } catch (const Error&) {
    return 0;
  }
  fuzz::check(!score.timing_table().has_value(), "timing table present after building");
  fuzz::check_score(score);
  fuzz::check_links_against_reference(score);

  // Bars of the chart itself, just around them, and a few fixed ones.
  std::vector<Fraction> bars = {Fraction(0), Fraction(1, 3), Fraction(-1), Fraction(1000)};
  std::vector<double> times = {0.0, 1.5, -2.0, 1e6};
  const std::size_t take = score.notes.size() < 8 ? score.notes.size() : 8;
  for (std::size_t i = 0; i < take; ++i) bars.push_back(score.notes[i].base.bar);
  for (std::size_t i = 0; i < score.events.size() && i < 8; ++i) bars.push_back(score.events[i].bar);
  for (Fraction b : std::vector<Fraction>(bars)) {
    try {
      times.push_back(score.time_at(b).to_double() + 0.25);
    } catch (const Error&) {
    }
  }
  fuzz::exercise_timing(score, bars, times);
  return 0;
}

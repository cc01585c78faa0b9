#pragma once
// Lyrics: words at bar positions.
#include <string>
#include <string_view>
#include <vector>

#include "fraction.hpp"

namespace corvane {

struct Word {
  std::string text;
  Fraction bar;
};

struct Lyric {
  std::vector<Word> words;

  // Never fails: lines that do not fit "^(\d+): (.*)$" are skipped.
  static Lyric load(std::string_view text);
};

}  // namespace corvane

#pragma once
// Rebase documents: a new tempo map, an offset and metadata for a score.
#include <string_view>
#include <vector>

#include "meta.hpp"
#include "notes/event.hpp"
#include "score.hpp"

namespace corvane {

struct Rebase {
  double offset = 0.0;
  std::vector<Event> events;
  Meta meta;

  // Throws Error(ErrorKind::Json) with the parser's message (line and column)
  // when the text is not JSON.
  static Rebase from_json(std::string_view text);
  // A new score retimed by this rebase; fills score's timing table.
  Score apply(const Score& score) const;
};

}  // namespace corvane

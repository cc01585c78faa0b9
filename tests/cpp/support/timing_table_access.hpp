#pragma once
// Lets tests and benchmarks install or drop a score's timing table.
#include <optional>
#include <vector>

#include "score.hpp"

namespace corvane {

struct TimingTableAccess {
  static std::optional<std::vector<TimedEvent>>& table(Score& score) {
    return score.timed_events_;
  }
};

}  // namespace corvane

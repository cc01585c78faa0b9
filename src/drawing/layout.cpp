#include "drawing/layout.hpp"

#include <cstdint>
#include <string>
#include <utility>

#include "error.hpp"
#include "numbers.hpp"

namespace corvane {

void DocumentBudget::refuse() const {
  std::string msg = "chart too large to render: the document exceeds ";
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  if (limit_ >= kMiB && limit_ % kMiB == 0) {
    append_int(msg, static_cast<std::uint64_t>(limit_ / kMiB));
    msg += " MiB";
  } else {
    // Only a bound lowered for a test is not a whole number of MiB.
    append_int(msg, static_cast<std::uint64_t>(limit_));
    msg += " bytes";
  }
  throw Error(ErrorKind::Value, msg);
}

double ColumnYCache::operator()(Fraction bar) {
  if (2 * (count_ + 1) > slots_.size()) grow();
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t k = bar.hash() & mask;; k = (k + 1) & mask) {
    Slot& slot = slots_[k];
    if (!slot.used) {
      slot.bar = bar;
      slot.y = column_y(drawing_, score_, bar, end_);
      slot.used = true;
      ++count_;
      return slot.y;
    }
    if (slot.bar == bar) return slot.y;
  }
}

void ColumnYCache::grow() {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{});
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (!slot.used) continue;
    std::size_t k = slot.bar.hash() & mask;
    while (slots_[k].used) k = (k + 1) & mask;
    slots_[k] = slot;
  }
}

void FlickArrows::append_reversed(std::string& out) const {
  for (std::size_t i = ends_.size(); i-- > 0;) {
    const std::size_t from = i == 0 ? 0 : ends_[i - 1];
    out.append(text_, from, ends_[i] - from);
  }
}

}  // namespace corvane

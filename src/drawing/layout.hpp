#pragma once
// The column layout that the column, the note loop and the note writers
// share: the y of a bar, its per-column cache, the side buffers, the step
// kinds that sit on a slide band without bending it, and the bound on the
// document's size. It calls nothing else of the renderer but the number forms.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "drawing/drawing.hpp"

namespace corvane {

// The document's size against its bound, counted while it is assembled so
// that an oversized document is refused as soon as its size is known, before
// its text is built. Only bytes the document will certainly hold are counted,
// so the count never refuses a document within the bound.
class DocumentBudget {
 public:
  explicit DocumentBudget(std::size_t limit = kMaxDocumentBytes) noexcept : limit_(limit) {}

  // Counts `bytes` more; throws Error(ErrorKind::Value) past the bound.
  void add(std::size_t bytes) {
    check(bytes);
    counted_ += bytes;
  }
  // Throws when the bytes counted and `pending` (written but not counted
  // yet) together pass the bound.
  void check(std::size_t pending) const {
    if (pending > limit_ - counted_) refuse();
  }
  std::size_t counted() const noexcept { return counted_; }
  std::size_t limit() const noexcept { return limit_; }

  // "chart too large to render: the document exceeds 256 MiB".
  [[noreturn]] void refuse() const;

 private:
  std::size_t limit_;
  std::size_t counted_ = 0;  // never above limit_
};

// y of a bar in the column whose top bar is `end`.
inline double column_y(const Drawing& d, const Score& score, Fraction bar, Fraction end) {
  return d.time_height * score.get_time_delta_f64(bar, end) + d.margin_y;
}

// column_y of one column, looked up once per distinct bar: a column asks for
// the same bars again and again (a note's tick and body, every slide path
// through it, notes sharing a beat).
class ColumnYCache {
 public:
  ColumnYCache(const Drawing& drawing, const Score& score, Fraction end)
      : drawing_(drawing), score_(score), end_(end) {}

  double operator()(Fraction bar);
  const Score& score() const noexcept { return score_; }

 private:
  struct Slot {
    Fraction bar;
    double y = 0.0;
    bool used = false;
  };
  void grow();

  const Drawing& drawing_;
  const Score& score_;
  Fraction end_;
  std::vector<Slot> slots_;  // open addressing, power-of-two size
  std::size_t count_ = 0;
};

// The flick arrows of a column, one element each, kept in one text: the
// column stacks them last-written first.
class FlickArrows {
 public:
  // The text to append one arrow to; close it with end_arrow().
  std::string& text() noexcept { return text_; }
  void end_arrow() { ends_.push_back(text_.size()); }

  std::size_t size() const noexcept { return ends_.size(); }
  bool empty() const noexcept { return ends_.empty(); }
  std::size_t bytes() const noexcept { return text_.size(); }
  std::string_view operator[](std::size_t i) const noexcept {
    const std::size_t from = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(text_).substr(from, ends_[i] - from);
  }
  // The arrows, last-written first.
  void append_reversed(std::string& out) const;

 private:
  std::string text_;
  std::vector<std::size_t> ends_;
};

// Side buffers a column appends after its own elements, in this order.
struct ColumnBuffers {
  std::string slide_paths;
  std::string note_images;
  std::string relay_images;
  FlickArrows flick_arrows;  // appended last-written first
  std::string tick_marks;
  std::string speed_marks;

  // Bytes held, all buffers together.
  std::size_t bytes() const noexcept {
    return slide_paths.size() + note_images.size() + relay_images.size() + flick_arrows.bytes() +
           tick_marks.size() + speed_marks.size();
  }
};

// A type-3 step carrying a tap but no flick: it sits on the band without
// bending it, and it does not count towards a chain's visibility.
inline bool is_attached_relay(const NoteData& n) noexcept {
  return n.is_slide() && n.base.note_type == 3 && n.slide.tap != kNoLink &&
         n.slide.directional == kNoLink;
}

}  // namespace corvane

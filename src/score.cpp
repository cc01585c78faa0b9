#include "score.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>
#include <span>
#include <system_error>
#include <unordered_map>

#include "error.hpp"
#include "numbers.hpp"
#include "unicode.hpp"

namespace corvane {

namespace {

// Applies the items of chart lines, in text order, to a score under
// construction. Holds the working values that do not outlive the build.
// Notes are kept as their cells until every line is read: a cell takes a
// quarter of a note's room, so the note list is made once, at its final
// size, and never regrown with two copies of it alive.
class LineApplier final : public ItemSink {
 public:
  explicit LineApplier(Score& score) : score_(score) {}

  // Room for about this many note cells, to spare the first regrowths.
  void reserve_cells(std::size_t count) { cells_.reserve(count); }

  // number is the 1-based line number used in error messages.
  void apply(const Line& line, std::size_t number) {
    try {
      line.parse(*this);
    } catch (const Error& e) {
      rethrow_with_line(e, number);
    }
  }

  void apply_raw(std::string_view raw, std::size_t number) { apply(Line(raw), number); }

  // Appends the notes of every cell read, in reading order.
  void make_notes() {
    score_.notes.reserve(score_.notes.size() + cells_.size());
    for (const NoteCell& cell : cells_) score_.notes.push_back(cell.note());
    std::vector<NoteCell>().swap(cells_);  // gives the room back before linking
  }

 private:
  [[noreturn]] static void rethrow_with_line(const Error& e, std::size_t number) {
    std::string msg = "line ";
    append_int(msg, number);
    msg += ": ";
    msg += e.what();
    throw Error(e.kind(), msg);
  }

  void take(item::MetaField&& field) override {
    // The score's metadata is the receiver: the first header that sets a
    // field keeps it.
    score_.meta = Meta::merge(score_.meta, field.meta);
  }
  void take(const item::TicksPerBeat& t) override { ticks_per_beat_ = t.ticks; }
  void take(const item::HiSpeed&) override {}  // every timeline becomes speed events, selected or not
  void take(item::SpeedTimeline&& t) override {
    if (t.entries.empty()) return;
    if (ticks_per_beat_ == 0)
      throw Error(ErrorKind::ZeroDivision, "ticks per beat is 0 in hi-speed timeline");
    const std::int64_t ticks_per_bar = std::int64_t{4} * ticks_per_beat_;
    for (const HiSpeedEntry& entry : t.entries) {
      Event e;
      e.bar = Fraction(entry.measure) + Fraction(entry.tick, ticks_per_bar);
      e.speed = entry.speed;
      score_.events.push_back(std::move(e));
    }
  }
  void take(item::BarLength&& b) override { score_.events.push_back(std::move(b.event)); }
  void take(const item::BpmDefinition& d) override { bpm_definitions_.insert_or_assign(d.id, d.value); }
  void take(const item::BpmChange& c) override {
    // Only a definition earlier in the text counts; an unknown id is dropped.
    auto it = bpm_definitions_.find(c.id);
    if (it == bpm_definitions_.end()) return;
    Event e;
    e.bar = c.bar;
    e.bpm = it->second;
    score_.events.push_back(std::move(e));
  }
  void expect_notes(std::size_t at_most) override {
    // The room a long line needs at once; doubling across short ones.
    const std::size_t needed = cells_.size() + at_most;
    if (needed > cells_.capacity()) cells_.reserve(std::max(needed, 2 * cells_.capacity()));
  }
  void take(const NoteCell& cell) override { cells_.push_back(cell); }

  Score& score_;
  std::int32_t ticks_per_beat_ = 480;
  std::unordered_map<std::uint32_t, Fraction> bpm_definitions_;
  std::vector<NoteCell> cells_;
};

[[noreturn]] void throw_os_error(int err) {
  throw Error(ErrorKind::Io, std::system_category().message(err));
}

// Closes the descriptor on every way out, exceptions included.
struct FileDescriptor {
  int fd;
  ~FileDescriptor() { ::close(fd); }
};

std::string read_whole_file(const std::string& path) {
  // c_str() would silently open a shorter name.
  if (path.find('\0') != std::string::npos)
    throw Error(ErrorKind::Io, "file name contains an interior NUL byte");
  int raw_fd;
  do {
    raw_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (raw_fd < 0 && errno == EINTR);
  if (raw_fd < 0) throw_os_error(errno);
  const FileDescriptor file{raw_fd};

  std::string text;
  struct stat st {};
  if (::fstat(file.fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    text.reserve(static_cast<std::size_t>(st.st_size));

  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(file.fd, buf, sizeof buf);
    if (n > 0) {
      text.append(buf, static_cast<std::size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      throw_os_error(errno);
    }
  }
  return text;
}

// Stable sort by bar. Exact fraction comparison costs a few divisions, so
// small keys carry the bar's double value, which orders two bars exactly
// whenever both parts of both fractions are exact doubles and the values
// differ; otherwise the exact comparison decides, then the index. The items
// are then permuted in place: no second copy of a large note list.
template <class T, class BarOf>
void stable_sort_by_bar(std::vector<T>& items, BarOf bar_of) {
  const auto by_bar = [&](const T& a, const T& b) { return bar_of(a) < bar_of(b); };
  if (std::is_sorted(items.begin(), items.end(), by_bar)) return;
  const std::size_t n = items.size();
  if (n > std::numeric_limits<std::uint32_t>::max()) {
    std::stable_sort(items.begin(), items.end(), by_bar);
    return;
  }

  constexpr std::int64_t kExact = std::int64_t{1} << 53;
  struct Key {
    double approx;
    std::uint32_t index;
    bool exact_double;
  };
  std::vector<Key> keys;
  keys.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    const Fraction bar = bar_of(items[i]);
    const bool exact = bar.numerator() <= kExact && bar.numerator() >= -kExact && bar.denominator() <= kExact;
    keys.push_back(Key{bar.to_double(), static_cast<std::uint32_t>(i), exact});
  }
  std::sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
    if (a.approx != b.approx && a.exact_double && b.exact_double) return a.approx < b.approx;
    const Fraction x = bar_of(items[a.index]);
    const Fraction y = bar_of(items[b.index]);
    if (x != y) return x < y;
    return a.index < b.index;
  });

  // Position p takes the item at keys[p].index; follow each cycle once.
  for (std::size_t p = 0; p < n; ++p) {
    if (keys[p].index == p) continue;
    T held = std::move(items[p]);
    std::size_t q = p;
    for (;;) {
      const std::size_t src = keys[q].index;
      keys[q].index = static_cast<std::uint32_t>(q);
      if (src == p) {
        items[q] = std::move(held);
        break;
      }
      items[q] = std::move(items[src]);
      q = src;
    }
  }
}

// ---------------------------------------------------------------------------
// Note linking, on notes sorted by bar. A used flag marks a note on a special
// lane or absorbed into another note; the notes without one are the active
// notes.

using UsedFlags = std::vector<unsigned char>;

// Notes on special lanes: each becomes the event it stands for.
void turn_special_lane_notes_into_events(const std::vector<NoteData>& notes, UsedFlags& used,
                                         std::vector<Event>& events) {
  for (std::size_t i = 0; i < notes.size(); ++i) {
    const NoteBase& b = notes[i].base;
    if (is_playable_lane(b.lane)) continue;
    used[i] = 1;
    Event e;
    e.bar = b.bar;
    e.text = b.lane == 0 ? "SKILL" : (b.note_type == 1 ? "FEVER CHANCE!" : "SUPER FEVER!!");
    events.push_back(std::move(e));
  }
}

// Calls link(stack) for every stack of two or more notes: the unused notes at
// one bar on one lane with one width, as their indices in ascending order.
// Notes absorb only notes of their own stack, so stacks are linked one by
// one, and the scratch space is one bar's worth of indices. The used flags
// of a bar are read before its stacks are linked, so link may set them.
template <class Link>
void for_each_stack(const std::vector<NoteData>& notes, const UsedFlags& used, Link&& link) {
  std::vector<std::size_t> at_bar;
  const std::size_t n = notes.size();
  for (std::size_t begin = 0, end = 0; begin < n; begin = end) {
    end = begin + 1;
    while (end < n && notes[end].base.bar == notes[begin].base.bar) ++end;
    if (end - begin < 2) continue;  // a lone note has nothing to absorb
    at_bar.clear();
    for (std::size_t i = begin; i < end; ++i)
      if (!used[i]) at_bar.push_back(i);
    const auto same_place = [&](std::size_t a, std::size_t b) {
      return notes[a].base.lane == notes[b].base.lane && notes[a].base.width == notes[b].base.width;
    };
    std::sort(at_bar.begin(), at_bar.end(), [&](std::size_t a, std::size_t b) {
      const NoteBase& x = notes[a].base;
      const NoteBase& y = notes[b].base;
      if (x.lane != y.lane) return x.lane < y.lane;
      if (x.width != y.width) return x.width < y.width;
      return a < b;
    });
    for (std::size_t p = 0, q = 0; p < at_bar.size(); p = q) {
      q = p + 1;
      while (q < at_bar.size() && same_place(at_bar[p], at_bar[q])) ++q;
      if (q - p > 1) link(std::span<const std::size_t>(at_bar.data() + p, q - p));
    }
  }
}

// Taps into directional notes: the first directional note of a stack takes
// every tap of it, linking the last; the later ones find none left.
void link_taps_into_directional_notes(std::vector<NoteData>& notes, UsedFlags& used,
                                      std::span<const std::size_t> stack) {
  for (const std::size_t i : stack) {
    if (!notes[i].is_directional()) continue;
    for (const std::size_t j : stack) {
      if (used[j] || !notes[j].is_tap()) continue;
      used[j] = 1;
      notes[i].directional.tap = j;
    }
    return;
  }
}

// Taps and directional notes into slide steps: the first step of a stack
// takes the taps left, then the directional notes, whose taps become its
// own; the later steps find none left.
void link_into_slide_steps(std::vector<NoteData>& notes, UsedFlags& used,
                           std::span<const std::size_t> stack) {
  for (const std::size_t i : stack) {
    if (!notes[i].is_slide()) continue;
    Slide& step = notes[i].slide;
    for (const std::size_t j : stack) {
      if (used[j] || !notes[j].is_tap()) continue;
      used[j] = 1;
      step.tap = j;
    }
    for (const std::size_t j : stack) {
      if (used[j] || !notes[j].is_directional()) continue;
      used[j] = 1;
      step.directional = j;
      if (notes[j].directional.tap != kNoLink) step.tap = notes[j].directional.tap;
    }
    return;
  }
}

// Slide steps into chains: a step is followed by the next playable step with
// the same channel and decoration flag unless it is of type 2, which ends its
// slide; a step without a predecessor heads its chain, and every later step
// carries that head.
void chain_slide_steps(std::vector<NoteData>& notes, const UsedFlags& used) {
  // The last step seen of each channel and decoration flag.
  std::array<std::size_t, 128> small;
  small.fill(kNoLink);
  std::unordered_map<std::uint64_t, std::size_t> large;
  for (std::size_t i = 0; i < notes.size(); ++i) {
    if (used[i] || !notes[i].is_slide()) continue;
    Slide& step = notes[i].slide;
    const std::uint64_t key = (std::uint64_t{step.channel} << 1) | (step.decoration ? 1u : 0u);
    std::size_t& last =
        key < small.size() ? small[key] : large.try_emplace(key, kNoLink).first->second;
    if (last != kNoLink && notes[last].base.note_type != 2) {
      notes[last].slide.next = i;
      step.head = notes[last].slide.head;
    }
    if (step.head == kNoLink) step.head = i;
    last = i;
  }
}

}  // namespace

Score Score::from_str(std::string_view content) {
  Score score;
  LineApplier applier(score);
  // Charts hold roughly one note per 32 to 64 bytes; starting near that
  // spares most of the regrowths of the cell list.
  applier.reserve_cells(content.size() / 48);
  std::size_t number = 0;
  for_each_raw_line(content, [&](std::string_view raw) { applier.apply_raw(raw, ++number); });
  applier.make_notes();
  score.init_notes();
  score.init_events();
  return score;
}

Score Score::open(const std::string& path) {
  std::string text = read_whole_file(path);
  if (!unicode::is_valid_utf8(text)) throw Error(ErrorKind::Io, "stream did not contain valid UTF-8");
  return from_str(text);
}

void Score::init_by_lines(const std::vector<Line>& lines) {
  *this = Score{};
  LineApplier applier(*this);
  for (std::size_t i = 0; i < lines.size(); ++i) applier.apply(lines[i], i + 1);
  applier.make_notes();
  init_notes();
  init_events();
}

void Score::init_notes() {
  stable_sort_by_bar(notes, [](const NoteData& n) { return n.base.bar; });
  UsedFlags used(notes.size(), 0);
  turn_special_lane_notes_into_events(notes, used, events);
  for_each_stack(notes, used, [&](std::span<const std::size_t> stack) {
    link_taps_into_directional_notes(notes, used, stack);
    link_into_slide_steps(notes, used, stack);
  });
  chain_slide_steps(notes, used);

  active_notes.clear();
  active_notes.reserve(static_cast<std::size_t>(std::count(used.begin(), used.end(), 0)));
  for (std::size_t i = 0; i < notes.size(); ++i)
    if (!used[i]) active_notes.push_back(i);
}

void Score::init_events() {
  stable_sort_by_bar(events, [](const Event& e) { return e.bar; });
  // Drop an event only when it equals the last one kept.
  std::size_t kept = 0;
  for (std::size_t r = 0; r < events.size(); ++r) {
    if (kept > 0 && events[r] == events[kept - 1]) continue;
    if (r != kept) events[kept] = std::move(events[r]);
    ++kept;
  }
  events.erase(events.begin() + static_cast<std::ptrdiff_t>(kept), events.end());
  timed_events_.reset();
}

}  // namespace corvane

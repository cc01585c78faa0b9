#include "score.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <limits>
#include <system_error>
#include <unordered_map>
#include <variant>

#include "error.hpp"
#include "unicode.hpp"

namespace corvane {

namespace {

// Applies the items of chart lines, in text order, to a score under
// construction. Holds the working values that do not outlive the build.
class LineApplier {
 public:
  explicit LineApplier(Score& score) : score_(score) {}

  // number is the 1-based line number used in error messages.
  void apply(const Line& line, std::size_t number) {
    try {
      items_.clear();
      line.parse_into(items_);
      for (ParsedItem& item : items_) std::visit([this](auto& it) { handle(it); }, item);
    } catch (const Error& e) {
      rethrow_with_line(e, number);
    }
  }

  void apply_raw(std::string_view raw, std::size_t number) { apply(Line(raw), number); }

 private:
  [[noreturn]] static void rethrow_with_line(const Error& e, std::size_t number) {
    std::string msg = "line ";
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, number);
    msg.append(buf, res.ptr);
    msg += ": ";
    msg += e.what();
    throw Error(e.kind(), msg);
  }

  void handle(item::Meta& m) {
    // The score's metadata is the receiver: the first header that sets a
    // field keeps it.
    score_.meta = Meta::merge(score_.meta, m.meta);
  }
  void handle(item::TicksPerBeat& t) { ticks_per_beat_ = t.ticks; }
  void handle(item::HiSpeed&) {}  // every timeline becomes speed events, selected or not
  void handle(item::SpeedTimeline& t) {
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
  void handle(item::Event& e) { score_.events.push_back(std::move(e.event)); }
  void handle(item::BpmDefinition& d) { bpm_definitions_.insert_or_assign(d.id, d.value); }
  void handle(item::BpmChange& c) {
    // Only a definition earlier in the text counts; an unknown id is dropped.
    auto it = bpm_definitions_.find(c.id);
    if (it == bpm_definitions_.end()) return;
    Event e;
    e.bar = c.bar;
    e.bpm = it->second;
    score_.events.push_back(std::move(e));
  }
  void handle(item::Note& n) { score_.notes.push_back(n.note); }

  Score& score_;
  std::int32_t ticks_per_beat_ = 480;
  std::unordered_map<std::uint32_t, Fraction> bpm_definitions_;
  std::vector<ParsedItem> items_;
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

}  // namespace

Score Score::from_str(std::string_view content) {
  Score score;
  // Charts hold roughly one note per 32 to 64 bytes; starting near that
  // spares most of the regrowth copies of a large note list.
  score.notes.reserve(content.size() / 48);
  LineApplier applier(score);
  std::size_t number = 0;
  for_each_raw_line(content, [&](std::string_view raw) { applier.apply_raw(raw, ++number); });
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
  init_notes();
  init_events();
}

void Score::init_notes() {
  stable_sort_by_bar(notes, [](const NoteData& n) { return n.base.bar; });
  const std::size_t n = notes.size();
  std::vector<unsigned char> used(n, 0);

  // Pass 1: notes on special lanes become events.
  for (std::size_t i = 0; i < n; ++i) {
    const NoteBase& b = notes[i].base;
    if (is_playable_lane(b.lane)) continue;
    used[i] = 1;
    Event e;
    e.bar = b.bar;
    e.text = b.lane == 0 ? "SKILL" : (b.note_type == 1 ? "FEVER CHANCE!" : "SUPER FEVER!!");
    events.push_back(std::move(e));
  }

  // Group the playable notes by (bar, lane, width), each group in ascending
  // index order. Absorption only ever looks inside one group, and every
  // absorber takes all unused candidates of a kind, so one cursor per group
  // and kind keeps the passes linear.
  std::vector<std::size_t> order;
  order.reserve(n);
  std::vector<std::size_t> group_of(n, kNoLink);
  std::vector<std::size_t> group_end;  // end position in `order`, per group
  for (std::size_t run = 0; run < n;) {
    std::size_t run_end = run + 1;
    while (run_end < n && notes[run_end].base.bar == notes[run].base.bar) ++run_end;
    const std::size_t first = order.size();
    for (std::size_t i = run; i < run_end; ++i)
      if (!used[i]) order.push_back(i);
    std::sort(order.begin() + static_cast<std::ptrdiff_t>(first), order.end(), [&](std::size_t a, std::size_t b) {
      const NoteBase& x = notes[a].base;
      const NoteBase& y = notes[b].base;
      if (x.lane != y.lane) return x.lane < y.lane;
      if (x.width != y.width) return x.width < y.width;
      return a < b;
    });
    for (std::size_t p = first; p < order.size(); ++p) {
      const NoteBase& cur = notes[order[p]].base;
      if (p == first || cur.lane != notes[order[p - 1]].base.lane || cur.width != notes[order[p - 1]].base.width)
        group_end.push_back(p);
      group_end.back() = p + 1;
      group_of[order[p]] = group_end.size() - 1;
    }
    run = run_end;
  }
  std::vector<std::size_t> group_begin(group_end.size());
  for (std::size_t g = 0; g < group_end.size(); ++g) group_begin[g] = g == 0 ? 0 : group_end[g - 1];
  std::vector<std::size_t> tap_cursor = group_begin;
  std::vector<std::size_t> directional_cursor = group_begin;

  // Absorbs every unused note of `kind` in the group from its cursor on,
  // calling on_absorb(j) for each in ascending order.
  auto absorb = [&](std::size_t g, std::vector<std::size_t>& cursor, NoteData::Kind kind, auto&& on_absorb) {
    for (std::size_t p = cursor[g]; p < group_end[g]; ++p) {
      const std::size_t j = order[p];
      if (used[j] || notes[j].kind != kind) continue;
      used[j] = 1;
      on_absorb(j);
    }
    cursor[g] = group_end[g];
  };

  // Pass 2: directional notes absorb the taps under them.
  for (std::size_t i = 0; i < n; ++i) {
    if (used[i] || !notes[i].is_directional()) continue;
    absorb(group_of[i], tap_cursor, NoteData::Kind::Tap, [&](std::size_t j) { notes[i].directional.tap = j; });
  }

  // The next chain candidate of each slide step: the following playable step
  // with the same channel and decoration flag.
  std::vector<std::size_t> next_step(n, kNoLink);
  {
    std::array<std::size_t, 128> small;
    small.fill(kNoLink);
    std::unordered_map<std::uint64_t, std::size_t> large;
    for (std::size_t i = n; i-- > 0;) {
      if (used[i] || !notes[i].is_slide()) continue;
      const Slide& s = notes[i].slide;
      const std::uint64_t key = (std::uint64_t{s.channel} << 1) | (s.decoration ? 1u : 0u);
      if (key < small.size()) {
        next_step[i] = small[key];
        small[key] = i;
      } else {
        auto [it, inserted] = large.try_emplace(key, i);
        if (!inserted) {
          next_step[i] = it->second;
          it->second = i;
        }
      }
    }
  }

  // Pass 3: slide steps absorb taps and directional notes, then chain.
  for (std::size_t i = 0; i < n; ++i) {
    if (used[i] || !notes[i].is_slide()) continue;
    if (notes[i].slide.head == kNoLink) notes[i].slide.head = i;
    const std::size_t g = group_of[i];
    absorb(g, tap_cursor, NoteData::Kind::Tap, [&](std::size_t j) { notes[i].slide.tap = j; });
    absorb(g, directional_cursor, NoteData::Kind::Directional, [&](std::size_t j) {
      notes[i].slide.directional = j;
      if (notes[j].directional.tap != kNoLink) notes[i].slide.tap = notes[j].directional.tap;
    });
    // A step of type 2 ends its slide.
    if (notes[i].base.note_type != 2) {
      const std::size_t k = next_step[i];
      if (k != kNoLink) {
        notes[i].slide.next = k;
        notes[k].slide.head = notes[i].slide.head;
      }
    }
  }

  active_notes.clear();
  for (std::size_t i = 0; i < n; ++i)
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

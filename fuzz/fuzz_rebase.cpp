// Rebase::from_json on arbitrary bytes, then Rebase::apply on a fixed small
// chart. Bad JSON and arithmetic that leaves 64 bits are corvane::Error; the
// retimed score must keep every rule a built score keeps, applying twice must
// give the same score, and the chart given must not change.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.hpp"
#include "rebase.hpp"
#include "score.hpp"

using namespace corvane;

namespace {

// Taps, a flick on a tap, a slide that absorbs a tap and a flick, a relay
// and an eased end, skill and fever notes, a hi-speed timeline, two tempos
// and a bar-length change.
constexpr std::string_view kChart =
    "#TITLE \"Fixed\"\n"
    "#REQUEST \"ticks_per_beat 480\"\n"
    "#BPM01: 120\n"
    "#BPM02: 90.5\n"
    "#00002: 4\n"
    "#00008: 01\n"
    "#00308: 02\n"
    "#00402: 3\n"
    "#TIL00: \"0'0:1.0, 2'960:1.5, 4'0:0.5\"\n"
    "#00012: 1200120012001200\n"
    "#00014: 00002300\n"
    "#00054: 00003300\n"
    "#00110: 11\n"
    "#00111: 12\n"
    "#001310: 11000000\n"
    "#00116: 11000000\n"
    "#00156: 21000000\n"
    "#001380: 00300000\n"
    "#002380: 22000000\n"
    "#00316: 5200\n"
    "#003920: 1200\n"
    "#004920: 0032\n"
    "#00412: 2200\n";

const Score& fixed_chart() {
  static const Score chart = Score::from_str(kChart);
  return chart;
}

bool same_notes(const Score& a, const Score& b) {
  if (a.notes.size() != b.notes.size() || a.active_notes != b.active_notes) return false;
  for (std::size_t i = 0; i < a.notes.size(); ++i) {
    const NoteData& x = a.notes[i];
    const NoteData& y = b.notes[i];
    if (x.kind != y.kind || x.base.bar != y.base.bar || x.base.lane != y.base.lane ||
        x.base.width != y.base.width || x.base.note_type != y.base.note_type) {
      return false;
    }
  }
  return true;
}

bool same_events(const Score& a, const Score& b) {
  if (a.events.size() != b.events.size()) return false;
  for (std::size_t i = 0; i < a.events.size(); ++i) {
    const Event& x = a.events[i];
    const Event& y = b.events[i];
    // NaN speeds never compare equal; compare everything else.
    if (x.bar != y.bar || x.bpm != y.bpm || x.bar_length != y.bar_length ||
        x.sentence_length != y.sentence_length || x.section != y.section || x.text != y.text ||
        x.speed.has_value() != y.speed.has_value()) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Rebase rebase;
  try {
    rebase = Rebase::from_json(text);
  } catch (const Error&) {
    return 0;  // not JSON, or a "basebpm" / "movieoffset" with a zero denominator
  }

  Score chart = fixed_chart();
  Score first;
  try {
    first = rebase.apply(chart);
  } catch (const Error&) {
    return 0;
  }
  fuzz::check(same_notes(chart, fixed_chart()) && same_events(chart, fixed_chart()),
              "apply changed the score it was given");
  fuzz::check(!first.timing_table().has_value(), "timing table present after applying");
  // Every active note comes over with the notes linked to it; events are the
  // rebase's and the carried ones, less repeats.
  std::size_t moved = 0;
  for (std::size_t i : chart.active_notes) {
    const NoteData& n = chart.notes[i];
    ++moved;
    if (n.is_slide()) {
      moved += n.slide.tap != kNoLink;
      if (n.slide.directional != kNoLink) {
        ++moved;
        const NoteData& d = chart.notes[n.slide.directional];
        moved += d.is_directional() && d.directional.tap != kNoLink && d.directional.tap != n.slide.tap;
      }
    } else if (n.is_directional()) {
      moved += n.directional.tap != kNoLink;
    }
  }
  fuzz::check(first.notes.size() == moved, "retimed note count differs from the notes moved");
  std::size_t carried = 0;
  for (const Event& e : chart.events) carried += e.speed.has_value() || e.text.has_value();
  fuzz::check(first.events.size() <= rebase.events.size() + carried, "retimed score gained events");
  fuzz::check(first.meta.title == std::optional<std::string>("Fixed"), "chart title not kept");
  fuzz::check_score(first);
  fuzz::check_links_against_reference(first);

  const Score second = rebase.apply(chart);
  fuzz::check(same_notes(first, second) && same_events(first, second),
              "applying the same rebase twice differs");

  std::vector<Fraction> bars = {Fraction(0), Fraction(7, 2)};
  for (std::size_t i = 0; i < first.notes.size() && i < 6; ++i) bars.push_back(first.notes[i].base.bar);
  fuzz::exercise_timing(first, bars, {0.0, 3.25, -1.0});
  return 0;
}

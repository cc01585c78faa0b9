// A whole rendering (Drawing::svg) of a fuzzed chart, with fuzzed settings,
// generator name, overlays, lyrics and optionally a rebase, checked for XML
// well-formedness and for giving the same document twice. corvane::Error is
// an expected outcome; any other exception, crash, hang or sanitizer report
// is a finding.
//
// Texts are repaired to valid UTF-8 without the characters XML cannot hold
// at all (a Python str can carry U+0001, but no XML document can), so a
// check failure points at the renderer, not at the input.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "drawing/drawing.hpp"
#include "fuzz_support.hpp"
#include "lyric.hpp"
#include "rebase.hpp"
#include "score.hpp"
#include "xml_check_plain.hpp"

using namespace corvane;

namespace {

double pick_double(FuzzedDataProvider& fdp, double usual) {
  constexpr double kSpecial[] = {0.0,     -0.0,    1.0,    -1.0,   0.5,    1e-300, 1e300,
                                 1e9,     -360.0,  std::numeric_limits<double>::quiet_NaN(),
                                 std::numeric_limits<double>::infinity(),
                                 -std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<double>::max(),
                                 std::numeric_limits<double>::denorm_min()};
  constexpr std::size_t kCount = sizeof kSpecial / sizeof kSpecial[0];
  const auto sel = fdp.ConsumeIntegralInRange<std::size_t>(0, kCount + 2);
  if (sel < kCount) return kSpecial[sel];
  if (sel == kCount) return usual;
  return fdp.ConsumeFloatingPoint<double>();
}

std::int32_t pick_int(FuzzedDataProvider& fdp, std::int32_t usual) {
  constexpr std::int32_t kSpecial[] = {0, 1, -1, 2, 100, -16,
                                       std::numeric_limits<std::int32_t>::max(),
                                       std::numeric_limits<std::int32_t>::min()};
  constexpr std::size_t kCount = sizeof kSpecial / sizeof kSpecial[0];
  const auto sel = fdp.ConsumeIntegralInRange<std::size_t>(0, kCount + 3);
  if (sel < kCount) return kSpecial[sel];
  if (sel <= kCount + 1) return usual;
  return fdp.ConsumeIntegral<std::int32_t>();
}

std::string text(FuzzedDataProvider& fdp, std::size_t max_length) {
  return fuzz::repair_utf8(fdp.ConsumeRandomLengthString(max_length), true);
}

void repair(std::optional<std::string>& s) {
  if (s) *s = fuzz::repair_utf8(*s, true);
}

// JSON escapes can put any character into texts of a rebased score.
void repair_texts(Score& score) {
  Meta& m = score.meta;
  for (std::optional<std::string>* f :
       {&m.title, &m.subtitle, &m.artist, &m.genre, &m.designer, &m.difficulty, &m.playlevel,
        &m.songid, &m.wave, &m.waveoffset, &m.jacket, &m.background, &m.movie}) {
    repair(*f);
  }
  for (Event& e : score.events) {
    repair(e.section);
    repair(e.text);
  }
}

// Rough count of the elements a rendering writes, or 0 when the score is
// past a render limit (the library must then refuse it quickly, so it is
// rendered whatever the size). Documents within the limits can still be tens
// of megabytes, legitimately; the target skips those above a budget so that
// its time goes into many inputs rather than a few huge ones.
std::size_t estimated_work(Score& score) {
  if (score.active_notes.empty()) return 1;
  const std::int64_t last_bar = score.notes[score.active_notes.back()].base.bar.ceil();
  if (last_bar > kMaxRenderBars) return 0;
  if (last_bar < 0) return 1;
  double beat_lines = 0;
  for (std::int64_t b = 0; b <= last_bar; ++b) {
    const Event& state = score.state_at(Fraction(b));
    const double beats = std::ceil(state.bar_length->to_double());
    if (beats >= 2.0) beat_lines += beats - 1.0;
    if (beat_lines > static_cast<double>(kMaxBeatLines)) return 0;
  }
  // Every column walks all events and active notes; a slide chain is drawn
  // from each of its start steps to its end.
  double work = beat_lines + static_cast<double>(last_bar + 1) *
                                 static_cast<double>(score.events.size() + score.active_notes.size() + 16);
  for (std::size_t i : score.active_notes) {
    const NoteData& n = score.notes[i];
    if (!n.is_slide() || n.base.note_type != 1) continue;
    for (std::size_t k = n.slide.next; k != kNoLink; k = score.notes[k].slide.next) work += 4;
  }
  return static_cast<std::size_t>(std::min(work, 1e18)) + 1;
}

constexpr std::size_t kWorkBudget = 200000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider fdp(data, size);
  const auto flags = fdp.ConsumeIntegral<std::uint8_t>();
  const double time_height = pick_double(fdp, 360);
  const std::int32_t lane_width = pick_int(fdp, 16);
  const std::int32_t note_size = pick_int(fdp, 16);
  std::optional<double> target_seconds;
  if (flags & 1) target_seconds = pick_double(fdp, 8);
  std::optional<std::string> host;
  if (flags & 2) host = text(fdp, 48);
  std::optional<std::string> extension;
  if (flags & 4) extension = text(fdp, 12);
  const bool skill = (flags & 8) != 0;
  std::optional<MusicMeta> music;
  if (flags & 16) {
    MusicMeta m;
    const auto solo = fdp.ConsumeIntegralInRange<std::size_t>(0, 3);
    const auto multi = fdp.ConsumeIntegralInRange<std::size_t>(0, 3);
    for (std::size_t i = 0; i < solo; ++i) m.skill_score_solo.push_back(pick_double(fdp, 0.5));
    for (std::size_t i = 0; i < multi; ++i) m.skill_score_multi.push_back(pick_double(fdp, 0.5));
    m.fever_end_time = pick_double(fdp, 30);
    m.fever_score = pick_double(fdp, 0.2);
    music = std::move(m);
  }
  std::optional<std::string> lyric_text;
  if (flags & 32) lyric_text = text(fdp, 256);
  std::optional<std::string> rebase_text;
  if (flags & 64) rebase_text = fdp.ConsumeRandomLengthString(512);
  std::optional<std::string> generator;
  if (flags & 128) generator = text(fdp, 32);
  const std::string chart = fuzz::repair_utf8(fdp.ConsumeRemainingBytesAsString(), true);

  try {
    Score score = Score::from_str(chart);
    if (rebase_text) score = Rebase::from_json(*rebase_text).apply(score);
    repair_texts(score);
    std::optional<Lyric> lyric;
    if (lyric_text) lyric = Lyric::load(*lyric_text);

    Drawing drawing(host, std::nullopt, skill, music, target_seconds, generator);
    if (extension) drawing.set_note_asset_extension(*extension);
    drawing.time_height = time_height;
    drawing.lane_width = lane_width;
    drawing.note_size = note_size;

    const std::size_t work = estimated_work(score);
    if (work > kWorkBudget) return 0;

    const Lyric* words = lyric ? &*lyric : nullptr;
    const std::string doc = drawing.svg(score, words);
    const std::string fault = fuzz::check_xml(doc);
    fuzz::check(fault.empty(), "document is not well-formed XML: " + fault);
    // A quarter of the inputs (by size) also check that rendering again
    // gives the same text: a full second rendering halves the rate.
    if ((size & 3) == 0 && doc.size() <= (std::size_t{1} << 20)) {
      fuzz::check(drawing.svg(score, words) == doc, "a second rendering differs");
    }
  } catch (const Error&) {
  }
  return 0;
}

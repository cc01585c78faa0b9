// The note loop of one column: which notes show, their tick marks, and what
// each kind of note draws. Default settings, 120 BPM, 4/4 unless said.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "drawing/column.hpp"
#include "drawing/note_image.hpp"
#include "drawing/note_loop.hpp"
#include "support/chart_gen.hpp"
#include "support/note_fixtures.hpp"
#include "support/xml_check.hpp"

namespace corvane {
namespace {

using testing::ChartBuilder;
using testing::test_drawing;

ColumnBuffers run(Score& score, std::int32_t start, std::int32_t end) {
  ColumnBuffers buffers;
  run_note_loop(test_drawing(), score, start, end, buffers);
  return buffers;
}

std::size_t count(std::string_view hay, std::string_view needle) {
  std::size_t n = 0;
  for (std::size_t at = hay.find(needle); at != std::string_view::npos;
       at = hay.find(needle, at + needle.size())) {
    ++n;
  }
  return n;
}

std::vector<std::string> labels(std::string_view ticks) {
  static constexpr std::string_view kOpen = "class=\"tick-text\">";
  std::vector<std::string> out;
  for (std::size_t at = ticks.find(kOpen); at != std::string_view::npos; at = ticks.find(kOpen, at)) {
    at += kOpen.size();
    out.emplace_back(ticks.substr(at, ticks.find('<', at) - at));
  }
  return out;
}

std::vector<std::string> labels_for_taps(const std::vector<Fraction>& bars,
                                         Fraction three_beats_from = Fraction(-1)) {
  ChartBuilder b;
  if (three_beats_from >= Fraction(0)) {
    b.bar_length(0, 4);
    b.bar_length(three_beats_from, 3);
  }
  for (const Fraction& bar : bars) b.tap(bar, 2, 1, 1);
  Score& s = b.finish();
  return labels(run(s, 0, 4).tick_marks);
}

using Labels = std::vector<std::string>;

TEST(TickMarks, LabelTable) {
  EXPECT_EQ(labels_for_taps({0, Fraction(1, 4), Fraction(1, 2)}), (Labels{"/4", "/4", "/2"}));
  EXPECT_EQ(labels_for_taps({2, 3}), (Labels{"/1", "/1"}));
  // g = 1/2 stays the gap across the bar line; the last one runs to bar 4.
  EXPECT_EQ(labels_for_taps({Fraction(11, 4), Fraction(13, 4)}), (Labels{"/2", "3/4"}));
  // g = 3/4 across a bar line: distance to bar 3.
  EXPECT_EQ(labels_for_taps({Fraction(5, 2), Fraction(13, 4)}), (Labels{"/2", "3/4"}));
  // A third of a 3-beat bar is a quarter of four beats.
  EXPECT_EQ(labels_for_taps({Fraction(7, 3), Fraction(8, 3)}, 2), (Labels{"/4", "/4"}));
  EXPECT_EQ(labels_for_taps({0, Fraction(3, 8), Fraction(1, 2)}), (Labels{"3/8", "/8", "/2"}));
}

TEST(TickMarks, ElementsAndPlacement) {
  ChartBuilder b;
  b.tap(0, 2, 1, 1);
  b.tap(Fraction(1, 4), 2, 1, 1);
  Score& s = b.finish();
  EXPECT_EQ(run(s, 0, 4).tick_marks,
            "<line x1=\"16\" y1=\"2912\" x2=\"40\" y2=\"2912\" class=\"tick-line\"/>"
            "<text x=\"36\" y=\"2910\" class=\"tick-text\">/4</text>"
            "<line x1=\"16\" y1=\"2732\" x2=\"40\" y2=\"2732\" class=\"tick-line\"/>"
            "<text x=\"36\" y=\"2730\" class=\"tick-text\">3/4</text>");

  // Trace notes get a short mark without text; hidden ones nothing at all.
  ChartBuilder t;
  t.tap(1, 2, 1, 5);
  t.tap(1, 5, 1, 7);
  Score& st = t.finish();
  const ColumnBuffers out = run(st, 0, 4);
  EXPECT_EQ(out.tick_marks, "<line x1=\"32\" y1=\"2192\" x2=\"40\" y2=\"2192\" class=\"tick-line\"/>");
  EXPECT_EQ(count(out.note_images, "<use"), 1u);
}

TEST(TickMarks, TinyGapWritesNothingAndEqualBarsShareLabels) {
  ChartBuilder tiny;
  tiny.tap(0, 2, 1, 1);
  tiny.tap(Fraction(1, 1000), 2, 1, 1);
  Score& s = tiny.finish();
  const ColumnBuffers out = run(s, 0, 4);
  EXPECT_EQ(labels(out.tick_marks), (Labels{"/1"}));
  EXPECT_EQ(count(out.tick_marks, "tick-line"), 1u);

  ChartBuilder same;
  same.tap(1, 2, 1, 1);
  same.tap(1, 6, 1, 1);
  same.tap(2, 2, 1, 1);
  Score& s2 = same.finish();
  const ColumnBuffers out2 = run(s2, 0, 4);
  EXPECT_EQ(labels(out2.tick_marks), (Labels{"/1", "/1", "/1"}));
  EXPECT_EQ(count(out2.tick_marks, "tick-line"), 3u);
}

TEST(TickMarks, LongRunsOfEqualBarsSkipUncountedNotes) {
  ChartBuilder b;
  for (int k = 0; k < 1500; ++k) b.tap(0, 2 + k % 12, 1, 1);
  for (int k = 0; k < 1500; ++k) b.tap(Fraction(1, 4), 2 + k % 12, 1, 5);  // short marks
  b.tap(Fraction(1, 2), 2, 1, 1);
  b.tap(Fraction(1, 2), 4, 1, 1);
  Score& s = b.finish();
  const ColumnBuffers out = run(s, 0, 4);
  const Labels got = labels(out.tick_marks);
  ASSERT_EQ(got.size(), 1502u);
  for (const std::string& l : got) EXPECT_EQ(l, "/2");
  EXPECT_EQ(count(out.tick_marks, "tick-line"), 3002u);
}

TEST(NoteLoop, TapVisibilityWindow) {
  ChartBuilder b;
  b.tap(1, 2, 1, 1);                // start - 1: below the column, still drawn
  b.tap(Fraction(499, 100), 3, 1, 1);
  b.flick(5, 2, 1, 1);              // end + 1: not drawn
  b.tap(5, 4, 1, 1);
  Score& s = b.finish();
  const ColumnBuffers out = run(s, 2, 4);
  EXPECT_EQ(count(out.note_images, "<use"), 2u);
  EXPECT_EQ(count(out.tick_marks, "tick-line"), 2u);
  EXPECT_TRUE(out.flick_arrows.empty());
  EXPECT_NE(out.note_images.find("y=\"2178\""), std::string::npos);  // bar 1 in column 2..4
}

TEST(NoteLoop, ChainVisibilityIsDecidedByConsideredSteps) {
  {
    // Considered steps at start - 3 and end + 2 span the column: every step
    // draws and gets its tick, the type-0 step included.
    ChartBuilder b;
    b.step(1, 2, 2, 1);
    b.step(5, 2, 2, 0);
    b.step(10, 4, 2, 2);
    Score& s = b.finish();
    const ColumnBuffers out = run(s, 4, 8);
    EXPECT_EQ(count(out.slide_paths, "<path"), 1u);
    EXPECT_EQ(count(out.note_images, "<use"), 2u);
    EXPECT_EQ(count(out.tick_marks, "tick-line"), 3u);
  }
  {
    // start - 2 and exactly end + 1: hidden, whatever lies between that does
    // not count (a type-0 step, an attached relay).
    ChartBuilder b;
    b.step(2, 2, 2, 1);
    b.step(5, 2, 2, 0);
    b.tap(6, 2, 2, 1);
    b.step(6, 2, 2, 3);
    b.step(9, 4, 2, 2);
    Score& s = b.finish();
    const ColumnBuffers out = run(s, 4, 8);
    EXPECT_EQ(out.slide_paths + out.note_images + out.relay_images + out.tick_marks, "");
  }
  {
    // A considered step at start - 1 is inside the window.
    ChartBuilder b;
    b.step(3, 2, 2, 1);
    b.step(Fraction(7, 2), 4, 2, 2);
    Score& s = b.finish();
    EXPECT_EQ(count(run(s, 4, 8).slide_paths, "<path"), 1u);
  }
}

TEST(NoteLoop, DrawingTableByKind) {
  {
    // Ordinary slide: path at its start, bodies for start and end, the relay
    // only through the path; the end's flick gets its arrow.
    ChartBuilder b;
    b.step(1, 2, 2, 1);
    b.step(Fraction(3, 2), 3, 2, 3);
    b.flick(2, 4, 2, 1);
    b.step(2, 4, 2, 2);
    Score& s = b.finish();
    const ColumnBuffers out = run(s, 0, 4);
    EXPECT_EQ(count(out.slide_paths, "class=\"slide\""), 1u);
    EXPECT_EQ(count(out.relay_images, "<image"), 1u);
    EXPECT_EQ(count(out.note_images, "<use href=\"#notes-1-2\""), 1u);
    EXPECT_EQ(count(out.note_images, "<use href=\"#notes-3-2\""), 1u);
    EXPECT_EQ(out.flick_arrows.size(), 1u);
    // The relay (type 3) gets a short mark, the others counted ones.
    EXPECT_EQ(count(out.tick_marks, "tick-line"), 3u);
    EXPECT_EQ(labels(out.tick_marks).size(), 2u);
  }
  {
    // Decoration: the path, then the carried tap's own body and the arrow.
    ChartBuilder b;
    const std::size_t tap = b.tap(1, 2, 1, 1);
    b.flick(1, 2, 1, 1);
    b.step(1, 2, 1, 1, 0, true);
    b.step(2, 2, 1, 2, 0, true);
    Score& s = b.finish();
    const ColumnBuffers out = run(s, 0, 4);
    EXPECT_EQ(count(out.slide_paths, "class=\"decoration\""), 1u);
    std::string tap_body;
    write_note_image(test_drawing(), s, tap, Fraction(4), tap_body);
    EXPECT_EQ(out.note_images, tap_body);
    EXPECT_EQ(out.flick_arrows.size(), 1u);
  }
  {
    // A decoration step with a flick but no tap shows neither.
    ChartBuilder b;
    b.flick(1, 2, 1, 1);
    b.step(1, 2, 1, 1, 0, true);
    b.step(2, 2, 1, 2, 0, true);
    Score& s = b.finish();
    const ColumnBuffers out = run(s, 0, 4);
    EXPECT_EQ(count(out.slide_paths, "<path"), 1u);
    EXPECT_EQ(out.note_images, "");
    EXPECT_TRUE(out.flick_arrows.empty());
  }
}

TEST(NoteLoop, FlickArrowsAreListedInWritingOrder) {
  ChartBuilder b;
  const std::size_t first = b.flick(1, 2, 1, 1);
  const std::size_t second = b.flick(2, 2, 1, 3);
  Score& s = b.finish();
  const ColumnBuffers out = run(s, 0, 4);
  FlickArrows written;
  write_flick_image(test_drawing(), s, first, Fraction(4), written);
  write_flick_image(test_drawing(), s, second, Fraction(4), written);
  const std::vector<std::string> expected = testing::arrow_list(written);
  EXPECT_EQ(testing::arrow_list(out.flick_arrows), expected);

  // The column stacks them the other way round: the last written comes first.
  const std::string fragment = render_sentence(test_drawing(), s, nullptr, 0, 4).fragment;
  const std::size_t at_first = fragment.find(expected[0]);
  const std::size_t at_second = fragment.find(expected[1]);
  ASSERT_NE(at_first, std::string::npos);
  ASSERT_NE(at_second, std::string::npos);
  EXPECT_LT(at_second, at_first);
}

TEST(NoteLoop, GeneratedChartsRenderWellFormed) {
  for (unsigned seed = 1; seed <= 10; ++seed) {
    Score score = Score::from_str(generate_chart(30 + static_cast<int>(seed) * 11, seed));
    Drawing d = test_drawing();
    // Addresses with markup characters must not break the document.
    if (seed % 3 == 0) d.note_host = "https://h.example/n?a=\"1\"&b=<2>";
    if (seed % 4 == 0) d.set_note_asset_extension("P&G");
    const std::string svg = d.svg(score, nullptr);
    EXPECT_EQ(testing::check_xml(svg), "") << "seed " << seed;
    EXPECT_GT(count(svg, "class=\"tick-text\""), 0u) << "seed " << seed;
    EXPECT_GT(count(svg, "<path d=\"M"), 0u) << "seed " << seed;
    EXPECT_GT(count(svg, "notes_long_among"), 0u) << "seed " << seed;
    EXPECT_GT(count(svg, "notes_flick_arrow"), 0u) << "seed " << seed;
  }
}

}  // namespace
}  // namespace corvane

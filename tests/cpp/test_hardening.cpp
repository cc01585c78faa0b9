// Adversarial inputs: values that push the work of a rendering, a rebase or
// a reader far beyond any real chart must end in a clear corvane::Error (or
// be handled), never in a hang, a crash or undefined behaviour; ordinary
// charts at the edges of the format must stay unaffected.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "drawing/drawing.hpp"
#include "drawing/layout.hpp"
#include "error.hpp"
#include "rebase.hpp"
#include "score.hpp"
#include "support/xml_check.hpp"

namespace corvane {
namespace {

// Runs f and returns the corvane::Error it throws; fails when it throws none.
template <class F>
Error error_of(F&& f) {
  try {
    f();
  } catch (const Error& e) {
    return e;
  }
  ADD_FAILURE() << "no corvane::Error thrown";
  return Error(ErrorKind::Runtime, "");
}

bool contains(std::string_view hay, std::string_view needle) {
  return hay.find(needle) != std::string_view::npos;
}

// Columns are the nested <svg> elements of the page.
std::size_t column_count(std::string_view doc) {
  std::size_t n = 0;
  for (std::size_t p = doc.find("<svg x="); p != std::string_view::npos; p = doc.find("<svg x=", p + 1))
    ++n;
  return n;
}

// A rebase at 10^12 BPM sends a tap at bar 2 (4 seconds) to bar 10^12 / 60,
// far beyond any drawable chart: the last bar used to be saturated to
// 2^31 - 1 and then timed bar by bar for the column bounds (a hang).
TEST(HardeningRender, LastBarBeyondTheLimitIsAnError) {
  Score chart = Score::from_str("#00012: 11\n#00212: 11\n");
  Score far = Rebase::from_json(R"({"events": [{"bar": 0, "bpm": 1e12}]})").apply(chart);
  ASSERT_GT(far.notes.back().base.bar, Fraction(std::numeric_limits<std::int32_t>::max()));

  Drawing drawing;
  const Error e = error_of([&] { drawing.svg(far, nullptr); });
  EXPECT_EQ(e.kind(), ErrorKind::Value);
  EXPECT_TRUE(contains(e.what(), "chart too long to render: last bar ")) << e.what();
  EXPECT_TRUE(contains(e.what(), "exceeds 100000")) << e.what();

  // Just past the limit fails the same way, at once.
  Score just = Rebase::from_json(R"({"events": [{"bar": 0, "bpm": 6000030}]})").apply(chart);
  ASSERT_EQ(just.notes.back().base.bar.ceil(), kMaxRenderBars + 1);
  EXPECT_EQ(error_of([&] { drawing.svg(just, nullptr); }).kind(), ErrorKind::Value);
}

// Notes moved before bar 0 leave no column to draw; that stays a document.
// A slide chain of many start steps draws a path from every step, so the text
// grows with the square of the chain; the renderer stops at a fixed size.
TEST(HardeningRender, DocumentSizeIsBounded) {
  EXPECT_NO_THROW(DocumentBudget().check(kMaxDocumentBytes));
  const Error e = error_of([] { DocumentBudget().check(kMaxDocumentBytes + 1); });
  EXPECT_EQ(e.kind(), ErrorKind::Value);
  EXPECT_STREQ(e.what(), "chart too large to render: the document exceeds 256 MiB");

  // 400 start steps in one chain: ~80000 path segments, far below the limit.
  std::string chart = "#000320: ";
  for (int i = 0; i < 400; ++i) chart += "13";
  chart += "\n#001320: 23\n";
  Score score = Score::from_str(chart);
  const std::string doc = Drawing().svg(score, nullptr);
  EXPECT_EQ(testing::check_xml(doc), "");
  EXPECT_LT(doc.size(), kMaxDocumentBytes);
}

TEST(HardeningRender, LastBarFarBelowZeroGivesAnEmptyPage) {
  Score chart = Score::from_str("#00012: 11\n");
  Score early = Rebase::from_json(R"({"offset": 1e12})").apply(chart);
  ASSERT_LT(early.notes.back().base.bar, Fraction(std::numeric_limits<std::int32_t>::min()));
  Drawing drawing;
  const std::string doc = drawing.svg(early, nullptr);
  EXPECT_EQ(testing::check_xml(doc), "");
  EXPECT_TRUE(contains(doc, "width=\"80\" height=\"320\""));
}

// A bar of 10^9 beats asks for a billion beat lines.
TEST(HardeningRender, TooManyBeatLinesIsAnError) {
  Score score = Score::from_str("#00002: 1000000000\n#00012: 0011\n");
  Drawing drawing;
  const Error e = error_of([&] { drawing.svg(score, nullptr); });
  EXPECT_EQ(e.kind(), ErrorKind::Value);
  EXPECT_TRUE(contains(e.what(), "chart too dense to render: more than 1000000 beat lines"))
      << e.what();
}

// The largest chart the format can hold (measure 999) with long bars, drawn
// one bar per column, is well inside both limits.
TEST(HardeningRender, LongestChartOfTheFormatStillRenders) {
  std::string text = "#00002: 16\n#00012: 11\n#99912: 0011\n";
  Score score = Score::from_str(text);
  Drawing drawing;
  drawing.time_height = 0;  // every bar closes a column
  const std::string doc = drawing.svg(score, nullptr);
  EXPECT_EQ(testing::check_xml(doc), "");
  EXPECT_EQ(column_count(doc), 1000u);
}

// Settings at the ends of their ranges give a finite, well-formed document
// with the columns the closing rule asks for: a NaN product never closes a
// column (one column), an infinite or zero one closes at every bar, and a
// negative time height turns the comparison round.
TEST(HardeningRender, ExtremeSettingsStayWellFormed) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  // Taps to bar 6, a slide with a flick end, a skill and a fever note.
  const std::string chart =
      "#00012: 11\n#00110: 11\n#001310: 11003300\n#00231e: 22\n#00255e: 31\n"
      "#00113: 11\n#00212: 0012\n#00512: 0012\n";
  struct Case {
    double time_height;
    double target_seconds;
    std::int32_t lane_width;
    std::int32_t note_size;
    std::size_t columns;
  };
  const Case cases[] = {
      {kNaN, 8, 16, 16, 1},      {0, 8, 16, 16, 6},        {kInf, 8, 16, 16, 6},
      {360, -kInf, 16, 16, 6},   {360, kNaN, 16, 16, 1},   {1e300, 1e300, kMin, kMax, 1},
      {-360, 8, kMax, kMin, 6},  {360, 8, 0, 0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.time_height << " " << c.target_seconds << " "
                                    << c.lane_width << " " << c.note_size);
    Score score = Score::from_str(chart);
    MusicMeta music;
    music.skill_score_solo = {0.5};
    music.skill_score_multi = {0.5};
    music.fever_end_time = 1e6;  // far past the end: the range is cut at the column
    Drawing drawing(std::nullopt, std::nullopt, true, music, c.target_seconds, std::nullopt);
    drawing.time_height = c.time_height;
    drawing.lane_width = c.lane_width;
    drawing.note_size = c.note_size;
    const std::string doc = drawing.svg(score, nullptr);
    EXPECT_EQ(corvane::testing::check_xml(doc), "");
    EXPECT_EQ(column_count(doc), c.columns);
  }
}

// A tempo of 10^-9 BPM makes every bar last 2.4 * 10^11 seconds: times stay
// exact, every bar closes a column, and the heights are merely large.
TEST(HardeningRender, TinyTempoGivesHugeButFiniteColumns) {
  Score score = Score::from_str("#BPM01: 0.000000001\n#00008: 01\n#00012: 11\n#00312: 0011\n");
  Drawing drawing;
  const std::string doc = drawing.svg(score, nullptr);
  EXPECT_EQ(corvane::testing::check_xml(doc), "");
  EXPECT_EQ(column_count(doc), 4u);
  EXPECT_TRUE(contains(doc, "height=\"86400000000064\"")) << doc.substr(0, 400);
}

}  // namespace
}  // namespace corvane

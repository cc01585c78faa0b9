// Slide bodies and relay images in a column of bars 0 to 4 at the default
// 120 BPM in 4/4: bar 1 at y 2192, bar 3/2 at 1832, bar 2 at 1472.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "drawing/layout.hpp"
#include "drawing/slide_path.hpp"
#include "support/note_fixtures.hpp"

namespace corvane {
namespace {

using testing::ChartBuilder;
using testing::kHost;
using testing::test_drawing;

const std::string H = kHost;
const Fraction kHalf3(3, 2);

struct Out {
  std::string paths;
  std::string relays;
};

Out draw(Score& score, std::size_t start, const Drawing& d = test_drawing()) {
  Out out;
  write_slide_path(d, score, start, Fraction(4), out.paths, out.relays);
  return out;
}

std::string path(const std::string& data, const char* cls) {
  return "<path d=\"" + data + "\" class=\"" + cls + "\"/>";
}

std::string relay(int x, const char* name = "notes_long_among") {
  return "<image href=\"" + H + "/" + name + ".png\" x=\"" + std::to_string(x) +
         "\" y=\"1824\" width=\"16\" height=\"16\"/>";
}

const char* const kStraight = "M41,2192C41,2192,73,1472,73,1472L103,1472C103,1472,71,2192,71,2192z";
const char* const kEaseIn = "M41,2192C41,1832,73,1472,73,1472L103,1472C103,1472,71,1832,71,2192z";
const char* const kEaseOut = "M41,2192C41,2192,73,1832,73,1472L103,1472C103,1832,71,2192,71,2192z";

// Start step at bar 1, lane 2, width 2; end of type 2 at bar 2, lane 4.
// `middle` adds notes at bar 3/2 between them; `flick` puts an easing flick
// of that type on the start step (0: none).
std::size_t build(ChartBuilder& b, std::uint32_t flick = 0, bool decoration = false,
                  std::uint32_t start_tap = 0,
                  const std::function<void(ChartBuilder&)>& middle = nullptr) {
  if (start_tap != 0) b.tap(1, 2, 2, start_tap);
  if (flick != 0) b.flick(1, 2, 2, flick);
  const std::size_t start = b.step(1, 2, 2, 1, 0, decoration);
  if (middle) middle(b);
  b.step(2, 4, 2, 2, 0, decoration);
  b.finish();
  return start;
}

TEST(SlidePath, StraightBandAndClasses) {
  {
    ChartBuilder b;
    const std::size_t start = build(b);
    const Out out = draw(b.score, start);
    EXPECT_EQ(out.paths, path(kStraight, "slide"));
    EXPECT_EQ(out.relays, "");
  }
  {
    ChartBuilder b;
    const std::size_t start = build(b, 0, true);
    EXPECT_EQ(draw(b.score, start).paths,
              path("M40,2192C40,2192,72,1472,72,1472L104,1472C104,1472,72,2192,72,2192z",
                   "decoration"));
  }
  {
    ChartBuilder b;
    const std::size_t start = build(b, 0, false, 2);
    EXPECT_EQ(draw(b.score, start).paths, path(kStraight, "slide-critical"));
  }
  {
    ChartBuilder b;
    const std::size_t start = build(b, 0, true, 6);
    EXPECT_EQ(draw(b.score, start).paths,
              path("M40,2192C40,2192,72,1472,72,1472L104,1472C104,1472,72,2192,72,2192z",
                   "decoration-critical"));
  }
}

TEST(SlidePath, EasingFlicksMoveControlHeights) {
  ChartBuilder in;
  EXPECT_EQ(draw(in.score, build(in, 2)).paths, path(kEaseIn, "slide"));
  for (std::uint32_t type : {5u, 6u}) {
    ChartBuilder out;
    EXPECT_EQ(draw(out.score, build(out, type)).paths, path(kEaseOut, "slide")) << type;
  }
  // Other flick types leave the band straight.
  for (std::uint32_t type : {1u, 3u, 4u}) {
    ChartBuilder b;
    EXPECT_EQ(draw(b.score, build(b, type)).paths, path(kStraight, "slide")) << type;
  }
}

void attached_relay(ChartBuilder& b) {
  b.tap(kHalf3, 3, 2, 1);
  b.step(kHalf3, 3, 2, 3);
}

TEST(SlidePath, AttachedRelayFollowsTheBandCentre) {
  {
    ChartBuilder b;
    const Out out = draw(b.score, build(b, 0, false, 0, attached_relay));
    EXPECT_EQ(out.paths, path(kStraight, "slide"));
    EXPECT_EQ(out.relays, relay(64));
  }
  {
    ChartBuilder b;
    const Out out = draw(b.score, build(b, 2, false, 0, attached_relay));
    EXPECT_EQ(out.paths, path(kEaseIn, "slide"));
    EXPECT_EQ(out.relays, relay(57));
  }
  {
    ChartBuilder b;
    const Out out = draw(b.score, build(b, 5, false, 0, attached_relay));
    EXPECT_EQ(out.paths, path(kEaseOut, "slide"));
    EXPECT_EQ(out.relays, relay(71));
  }
  {
    // A critical chain gives critical relays.
    ChartBuilder b;
    const Out out = draw(b.score, build(b, 0, false, 2, attached_relay));
    EXPECT_EQ(out.relays, relay(64, "notes_long_among_crtcl"));
  }
  {
    // Decoration bands carry relays the same way.
    ChartBuilder b;
    const std::size_t start = b.step(1, 2, 2, 1, 0, true);
    b.tap(kHalf3, 3, 2, 1);
    b.step(kHalf3, 3, 2, 3, 0, true);
    b.step(2, 4, 2, 2, 0, true);
    b.finish();
    EXPECT_EQ(draw(b.score, start).relays, relay(64));
  }
}

const char* const kBent =
    "M41,2192C41,2192,57,1832,57,1832C57,1832,73,1472,73,1472"
    "L103,1472C103,1472,87,1832,87,1832C87,1832,71,2192,71,2192z";

TEST(SlidePath, PathPointsBendTheBand) {
  {
    // Type 3 without a tap: a path point, its relay at the first segment's end.
    ChartBuilder b;
    const Out out = draw(b.score, build(b, 0, false, 0, [](ChartBuilder& c) { c.step(kHalf3, 3, 2, 3); }));
    EXPECT_EQ(out.paths, path(kBent, "slide"));
    EXPECT_EQ(out.relays, relay(64));
  }
  {
    // Type 3 with a tap and a flick: a path point too.
    ChartBuilder b;
    const Out out = draw(b.score, build(b, 0, false, 0, [](ChartBuilder& c) {
      c.tap(kHalf3, 3, 2, 1);
      c.flick(kHalf3, 3, 2, 1);
      c.step(kHalf3, 3, 2, 3);
    }));
    EXPECT_EQ(out.paths, path(kBent, "slide"));
    EXPECT_EQ(out.relays, relay(64));
  }
  {
    // Type 5 bends without an image.
    ChartBuilder b;
    const Out out = draw(b.score, build(b, 0, false, 0, [](ChartBuilder& c) { c.step(kHalf3, 3, 2, 5); }));
    EXPECT_EQ(out.paths, path(kBent, "slide"));
    EXPECT_EQ(out.relays, "");
  }
  {
    // Type 0 neither bends nor shows.
    ChartBuilder b;
    const Out out = draw(b.score, build(b, 0, false, 0, [](ChartBuilder& c) { c.step(kHalf3, 3, 2, 0); }));
    EXPECT_EQ(out.paths, path(kStraight, "slide"));
    EXPECT_EQ(out.relays, "");
  }
}

TEST(SlidePath, ChainsWithoutSegmentsWriteNothing) {
  ChartBuilder b;
  const std::size_t lone = b.step(1, 2, 2, 1);
  const std::size_t end = b.step(1, 6, 2, 2, 1);
  b.finish();
  Out out = draw(b.score, lone);
  EXPECT_EQ(out.paths + out.relays, "");
  out = draw(b.score, end);
  EXPECT_EQ(out.paths + out.relays, "");
}

TEST(SlidePath, ChainReachingBeyondTheColumnIsWrittenWhole) {
  ChartBuilder b;
  const std::size_t start = b.step(1, 2, 2, 1);
  b.step(5, 4, 2, 2);
  b.finish();
  EXPECT_EQ(draw(b.score, start).paths,
            path("M41,2192C41,2192,73,-688,73,-688L103,-688C103,-688,71,2192,71,2192z", "slide"));
}

TEST(SlidePath, ScratchIsReusedAcrossChains) {
  ChartBuilder b;
  const std::size_t first = b.step(1, 2, 2, 1);
  b.step(kHalf3, 3, 2, 3);
  b.step(2, 4, 2, 2);
  const std::size_t second = b.step(2, 6, 2, 1, 1);
  b.step(3, 6, 2, 2, 1);
  b.finish();
  SlidePathScratch scratch;
  const Drawing d = test_drawing();
  ColumnYCache y(d, b.score, Fraction(4));
  const DocumentBudget budget;
  std::string paths, relays;
  write_slide_path(d, y, first, paths, relays, scratch, budget);
  write_slide_path(d, y, second, paths, relays, scratch, budget);
  const Out a = draw(b.score, first);
  const Out c = draw(b.score, second);
  EXPECT_EQ(paths, a.paths + c.paths);
  EXPECT_EQ(relays, a.relays + c.relays);
  EXPECT_EQ(c.relays, "");
}

TEST(ColumnYCache, AgreesWithColumnYWhileGrowing) {
  ChartBuilder b;
  b.bar_length(0, 4);
  b.bar_length(3, Fraction(7, 2));
  b.bar_length(Fraction(9, 2), 5);
  b.finish();
  const Drawing d = test_drawing();
  ColumnYCache cache(d, b.score, Fraction(8));
  // Twice over several hundred bars: the second round reads stored values.
  for (int round = 0; round < 2; ++round) {
    for (int k = -50; k < 600; ++k) {
      const Fraction bar(k, 61);
      ASSERT_EQ(cache(bar), column_y(d, b.score, bar, Fraction(8))) << k << " round " << round;
    }
  }
}

TEST(SlidePath, HostAndExtensionAreEscapedInRelayAddresses) {
  Drawing d = test_drawing();
  d.note_host = "h\"&";
  d.note_asset_extension = "<x>";
  ChartBuilder b;
  const Out out = draw(b.score, build(b, 0, false, 0, attached_relay), d);
  EXPECT_EQ(out.relays,
            "<image href=\"h&quot;&amp;/notes_long_among.&lt;x&gt;\" x=\"64\" y=\"1824\" "
            "width=\"16\" height=\"16\"/>");
}

}  // namespace
}  // namespace corvane

// Note bodies, trace images and flick arrows in a column of bars 0 to 4 at
// the default 120 BPM in 4/4 (bar 1 lies at y 2192).
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "drawing/note_image.hpp"
#include "support/note_fixtures.hpp"

namespace corvane {
namespace {

using testing::ChartBuilder;
using testing::kHost;
using testing::test_drawing;

const std::string H = kHost;

std::string body_of(Score& score, std::size_t index, const Drawing& d = test_drawing()) {
  std::string out;
  write_note_image(d, score, index, Fraction(4), out);
  return out;
}

std::vector<std::string> arrows_of(Score& score, std::size_t index,
                                   const Drawing& d = test_drawing()) {
  FlickArrows out;
  write_flick_image(d, score, index, Fraction(4), out);
  return testing::arrow_list(out);
}

std::string use(int k, int width, int x = 32, int w = 32) {
  return "<use href=\"#notes-" + std::to_string(k) + "-" + std::to_string(width) + "\" x=\"" +
         std::to_string(x) + "\" y=\"2178\" width=\"" + std::to_string(w) + "\" height=\"28\"/>";
}

std::string trace(const std::string& name) {
  return "<image href=\"" + H + "/" + name + ".png\" x=\"42\" y=\"2186\" width=\"12\" height=\"12\"/>";
}

TEST(NoteImage, TapGeometry) {
  ChartBuilder b;
  const std::size_t narrow = b.tap(1, 2, 1, 1);
  const std::size_t wide = b.tap(1, 5, 3, 1);
  Score& s = b.finish();
  EXPECT_EQ(body_of(s, narrow), "<use href=\"#notes-2-1\" x=\"32\" y=\"2178\" width=\"32\" height=\"28\"/>");
  EXPECT_EQ(body_of(s, wide), "<use href=\"#notes-2-3\" x=\"80\" y=\"2178\" width=\"64\" height=\"28\"/>");
}

TEST(NoteImage, TraceTapPutsImageUnderBody) {
  ChartBuilder b;
  const std::size_t t = b.tap(1, 2, 1, 5);
  Score& s = b.finish();
  EXPECT_EQ(body_of(s, t),
            "<image href=\"" + H +
                "/notes_friction_among_long.png\" x=\"42\" y=\"2186\" width=\"12\" height=\"12\"/>"
                "<use href=\"#notes-4-1\" x=\"32\" y=\"2178\" width=\"32\" height=\"28\"/>");
}

TEST(NoteImage, HiddenNotesWriteNothing) {
  for (std::uint32_t type : {7u, 8u}) {
    ChartBuilder b;
    const std::size_t t = b.tap(1, 2, 1, type);
    // A slide step carrying a hidden tap is hidden too.
    b.tap(2, 2, 1, type);
    const std::size_t step = b.step(2, 2, 1, 1);
    b.step(3, 2, 1, 2);
    Score& s = b.finish();
    EXPECT_EQ(body_of(s, t), "") << type;
    EXPECT_TRUE(arrows_of(s, t).empty()) << type;
    EXPECT_EQ(body_of(s, step), "") << type;
    EXPECT_TRUE(arrows_of(s, step).empty()) << type;
  }
}

// Each case builds notes at bar 1, lane 2, width 1 and names the drawn one.
struct BodyCase {
  const char* name;
  std::function<std::size_t(ChartBuilder&)> build;
  const char* trace;  // nullptr: no trace image
  int kind;
};

TEST(NoteImage, BodyKindTable) {
  const std::vector<BodyCase> cases = {
      {"critical tap", [](ChartBuilder& b) { return b.tap(1, 2, 1, 2); }, nullptr, 0},
      {"critical trace tap", [](ChartBuilder& b) { return b.tap(1, 2, 1, 6); }, "notes_friction_among_crtcl", 5},
      {"tap of type 3", [](ChartBuilder& b) { return b.tap(1, 2, 1, 3); }, nullptr, 2},
      {"flick alone", [](ChartBuilder& b) { return b.flick(1, 2, 1, 1); }, nullptr, 3},
      {"flick on trace tap",
       [](ChartBuilder& b) { b.tap(1, 2, 1, 5); return b.flick(1, 2, 1, 1); },
       "notes_friction_among_flick", 6},
      {"flick on critical trace tap",
       [](ChartBuilder& b) { b.tap(1, 2, 1, 6); return b.flick(1, 2, 1, 1); },
       "notes_friction_among_crtcl", 5},
      {"flick on critical tap",
       [](ChartBuilder& b) { b.tap(1, 2, 1, 2); return b.flick(1, 2, 1, 1); }, nullptr, 0},
      {"flick on hidden critical tap",
       [](ChartBuilder& b) { b.tap(1, 2, 1, 8); return b.flick(1, 2, 1, 1); }, nullptr, 0},
      {"flick on hidden tap",
       [](ChartBuilder& b) { b.tap(1, 2, 1, 7); return b.flick(1, 2, 1, 1); }, nullptr, 3},
      {"flick's own type ignored",
       [](ChartBuilder& b) { b.tap(1, 2, 1, 1); return b.flick(1, 2, 1, 2); }, nullptr, 3},
      {"plain slide step",
       [](ChartBuilder& b) { auto i = b.step(1, 2, 1, 1); b.step(2, 2, 1, 2); return i; }, nullptr, 1},
      {"slide step on trace tap",
       [](ChartBuilder& b) { b.tap(1, 2, 1, 5); auto i = b.step(1, 2, 1, 1); b.step(2, 2, 1, 2); return i; },
       "notes_friction_among_long", 4},
      {"slide step on critical trace tap",
       [](ChartBuilder& b) { b.tap(1, 2, 1, 6); auto i = b.step(1, 2, 1, 1); b.step(2, 2, 1, 2); return i; },
       "notes_friction_among_crtcl", 5},
      {"slide step with flick on trace tap",
       [](ChartBuilder& b) {
         b.tap(1, 2, 1, 5);
         b.flick(1, 2, 1, 1);
         auto i = b.step(1, 2, 1, 1);
         b.step(2, 2, 1, 2);
         return i;
       },
       "notes_friction_among_long", 4},
      {"end of a critical slide",
       [](ChartBuilder& b) { b.tap(0, 2, 1, 2); b.step(0, 2, 1, 1); return b.step(1, 2, 1, 2); }, nullptr, 0},
      {"slide end with flick",
       [](ChartBuilder& b) { b.step(0, 2, 1, 1); b.flick(1, 2, 1, 1); return b.step(1, 2, 1, 2); }, nullptr, 3},
      {"slide end with easing flick",
       [](ChartBuilder& b) { b.step(0, 2, 1, 1); b.flick(1, 2, 1, 5); return b.step(1, 2, 1, 2); }, nullptr, 3},
      {"relay with flick",
       [](ChartBuilder& b) {
         b.step(0, 2, 1, 1);
         b.flick(1, 2, 1, 1);
         auto i = b.step(1, 2, 1, 3);
         b.step(2, 2, 1, 2);
         return i;
       },
       nullptr, 1},
  };
  for (const BodyCase& c : cases) {
    ChartBuilder b;
    const std::size_t index = c.build(b);
    Score& s = b.finish();
    const std::string expected = (c.trace ? trace(c.trace) : std::string()) + use(c.kind, 1);
    EXPECT_EQ(body_of(s, index), expected) << c.name;
  }
}

std::string arrow(const std::string& name, int x, int y, int w, int h) {
  return "<image href=\"" + H + "/" + name + ".png\" x=\"" + std::to_string(x) + "\" y=\"" +
         std::to_string(y) + "\" width=\"" + std::to_string(w) + "\" height=\"" + std::to_string(h) +
         "\"/>";
}

TEST(FlickImage, DirectionsAndCriticalLook) {
  ChartBuilder b;
  const std::size_t up = b.flick(1, 5, 3, 1);
  Score& s = b.finish();
  EXPECT_EQ(arrows_of(s, up), std::vector<std::string>{arrow("notes_flick_arrow_03", 92, 2156, 40, 40)});

  ChartBuilder bl;
  const std::size_t left = bl.flick(1, 5, 3, 3);
  Score& sl = bl.finish();
  EXPECT_EQ(arrows_of(sl, left),
            std::vector<std::string>{arrow("notes_flick_arrow_03_diagonal", 88, 2156, 40, 40)});

  ChartBuilder br;
  const std::size_t right = br.flick(1, 5, 3, 4);
  Score& sr = br.finish();
  EXPECT_EQ(arrows_of(sr, right),
            std::vector<std::string>{"<image href=\"" + H +
                                     "/notes_flick_arrow_03_diagonal.png\" x=\"96\" y=\"2156\" "
                                     "width=\"40\" height=\"40\" transform-origin=\"116 0\" "
                                     "transform=\"scale(-1, 1)\"/>"});

  ChartBuilder bc;
  bc.tap(1, 5, 3, 2);
  const std::size_t critical = bc.flick(1, 5, 3, 1);
  Score& sc = bc.finish();
  EXPECT_EQ(arrows_of(sc, critical),
            std::vector<std::string>{arrow("notes_flick_arrow_crtcl_03", 92, 2156, 40, 40)});

  ChartBuilder bd;
  bd.tap(1, 5, 3, 6);
  const std::size_t critical_left = bd.flick(1, 5, 3, 3);
  Score& sd = bd.finish();
  EXPECT_EQ(arrows_of(sd, critical_left),
            std::vector<std::string>{arrow("notes_flick_arrow_crtcl_03_diagonal", 88, 2156, 40, 40)});
}

TEST(FlickImage, WhichNotesGetNoArrow) {
  for (std::uint32_t type : {2u, 5u, 6u}) {
    ChartBuilder b;
    b.tap(1, 2, 1, 1);
    const std::size_t f = b.flick(1, 2, 1, type);
    Score& s = b.finish();
    EXPECT_TRUE(arrows_of(s, f).empty()) << type;
    // The body follows the tap alone.
    EXPECT_EQ(body_of(s, f), use(3, 1)) << type;
  }
  // A slide end whose flick eases gets its flick body but no arrow.
  ChartBuilder b;
  b.step(0, 2, 1, 1);
  b.flick(1, 2, 1, 6);
  const std::size_t end = b.step(1, 2, 1, 2);
  Score& s = b.finish();
  EXPECT_TRUE(arrows_of(s, end).empty());
  EXPECT_EQ(body_of(s, end), use(3, 1));
}

TEST(FlickImage, TapsAndSlideSteps) {
  ChartBuilder b;
  const std::size_t plain = b.tap(1, 5, 3, 1);
  const std::size_t critical = b.tap(1, 2, 1, 2);
  b.tap(2, 5, 3, 2);  // makes the chain below critical from its head
  const std::size_t head = b.step(2, 5, 3, 1);
  b.flick(3, 5, 3, 4);
  const std::size_t end = b.step(3, 5, 3, 2);
  Score& s = b.finish();
  EXPECT_EQ(arrows_of(s, plain), std::vector<std::string>{arrow("notes_flick_arrow_03", 92, 2156, 40, 40)});
  ASSERT_EQ(arrows_of(s, critical).size(), 1u);
  EXPECT_NE(arrows_of(s, critical)[0].find("/notes_flick_arrow_crtcl_01.png"), std::string::npos);
  // Head without a flick points up; the end's flick of type 4 points right.
  ASSERT_EQ(arrows_of(s, head).size(), 1u);
  EXPECT_NE(arrows_of(s, head)[0].find("/notes_flick_arrow_crtcl_03.png"), std::string::npos);
  ASSERT_EQ(arrows_of(s, end).size(), 1u);
  EXPECT_NE(arrows_of(s, end)[0].find("/notes_flick_arrow_crtcl_03_diagonal.png\" x=\"96\" y=\"716\""),
            std::string::npos);
  EXPECT_NE(arrows_of(s, end)[0].find("transform-origin=\"116 0\""), std::string::npos);
}

TEST(FlickImage, SizeTableAndWidthLimits) {
  // (width, height) written for the size numbers 0 to 6.
  const int sizes[7][2] = {{9, 24}, {21, 30}, {31, 35}, {40, 40}, {49, 45}, {57, 50}, {64, 55}};
  for (std::uint32_t n = 0; n <= 6; ++n) {
    ChartBuilder b;
    const std::size_t t = b.tap(1, 2, n, 1);
    Score& s = b.finish();
    const auto arrows = arrows_of(s, t);
    ASSERT_EQ(arrows.size(), 1u);
    const std::string dims = "width=\"" + std::to_string(sizes[n][0]) + "\" height=\"" +
                             std::to_string(sizes[n][1]) + "\"/>";
    EXPECT_NE(arrows[0].find("/notes_flick_arrow_0" + std::to_string(n) + ".png"), std::string::npos) << n;
    EXPECT_NE(arrows[0].find(dims), std::string::npos) << arrows[0];
  }

  // Width 9: size number 06, centred on the full width (x 112).
  ChartBuilder wide;
  const std::size_t w9 = wide.tap(1, 2, 9, 1);
  Score& sw = wide.finish();
  EXPECT_EQ(arrows_of(sw, w9), std::vector<std::string>{arrow("notes_flick_arrow_06", 80, 2141, 64, 55)});

  // Width 0: size 00, and a body one lane wide naming symbol width 0.
  ChartBuilder zero;
  const std::size_t w0 = zero.tap(1, 5, 0, 1);
  Score& sz = zero.finish();
  EXPECT_EQ(arrows_of(sz, w0), std::vector<std::string>{arrow("notes_flick_arrow_00", 83, 2172, 9, 24)});
  EXPECT_EQ(body_of(sz, w0), use(2, 0, 80, 16));
}

TEST(NoteImage, HostAndExtensionAreEscapedInAddresses) {
  Drawing d = test_drawing();
  d.note_host = "https://a\"b&c";
  d.note_asset_extension = "p&g";
  ChartBuilder b;
  const std::size_t t = b.tap(1, 2, 1, 5);
  Score& s = b.finish();
  const std::string body = body_of(s, t, d);
  EXPECT_TRUE(body.starts_with(
      "<image href=\"https://a&quot;b&amp;c/notes_friction_among_long.p&amp;g\" x=\"42\""))
      << body;
  const auto arrows = arrows_of(s, t, d);
  ASSERT_EQ(arrows.size(), 1u);
  EXPECT_TRUE(arrows[0].starts_with(
      "<image href=\"https://a&quot;b&amp;c/notes_flick_arrow_01.p&amp;g\" x=\""))
      << arrows[0];

  // Ordinary addresses pass unchanged; an empty extension leaves the dot.
  d.note_host = "https://x.example/a?b=1";
  d.note_asset_extension = "";
  EXPECT_TRUE(body_of(s, t, d).starts_with(
      "<image href=\"https://x.example/a?b=1/notes_friction_among_long.\" x=\""));
}

}  // namespace
}  // namespace corvane

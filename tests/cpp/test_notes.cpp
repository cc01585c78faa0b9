#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "notes/note.hpp"

using corvane::Fraction;
using corvane::kNoLink;
using corvane::NoteBase;
using corvane::NoteData;
using corvane::Slide;

namespace {

constexpr std::optional<bool> kNone = std::nullopt;

NoteBase base(std::uint32_t type) { return NoteBase{Fraction(0), 5, 2, type}; }

// A small note list built by hand: the predicates only follow links.
struct Notes {
  std::vector<NoteData> list;

  std::size_t tap(std::uint32_t type) {
    list.push_back(NoteData::tap(base(type)));
    return list.size() - 1;
  }
  std::size_t flick(std::size_t tap_link = kNoLink, std::uint32_t type = 1) {
    NoteData n = NoteData::make_directional(base(type));
    n.directional.tap = tap_link;
    list.push_back(n);
    return list.size() - 1;
  }
  std::size_t step(bool decoration, std::uint32_t type, std::size_t tap_link = kNoLink,
                   std::size_t dir_link = kNoLink, std::size_t head = kNoLink) {
    NoteData n = NoteData::make_slide(base(type), 0, decoration);
    n.slide.tap = tap_link;
    n.slide.directional = dir_link;
    n.slide.head = head == kNoLink ? list.size() : head;
    list.push_back(n);
    return list.size() - 1;
  }
  // Index first, then the span: the calls below push notes while building arguments.
  std::optional<bool> tick(std::size_t i) const { return NoteData::is_tick(list[i], list); }
  bool critical(std::size_t i) const { return Slide::is_critical(list[i].slide, list); }
  bool trend(std::size_t i) const { return Slide::is_trend(list[i].slide, list); }
};

}  // namespace

TEST(SlideCritical, OwnLinksAndHead) {
  Notes n;
  // Own tap or own flick's tap of a critical type.
  for (std::uint32_t t : {2u, 6u, 8u}) {
    std::size_t own = n.step(false, 1, n.tap(t));
    EXPECT_TRUE(n.critical(own)) << t;
    std::size_t via_flick = n.step(false, 1, kNoLink, n.flick(n.tap(t)));
    EXPECT_TRUE(n.critical(via_flick)) << t;
  }
  for (std::uint32_t t : {0u, 1u, 3u, 5u, 7u}) {
    std::size_t own = n.step(false, 1, n.tap(t));
    EXPECT_FALSE(n.critical(own)) << t;
  }
  // A flick's own type does not make it critical.
  std::size_t flick_only = n.step(false, 1, kNoLink, n.flick(kNoLink, 2));
  EXPECT_FALSE(n.critical(flick_only));

  // A bare step inherits from its head.
  std::size_t head_tap = n.step(false, 1, n.tap(2));
  EXPECT_TRUE(n.critical(n.step(false, 3, kNoLink, kNoLink, head_tap)));
  std::size_t head_flick = n.step(false, 1, kNoLink, n.flick(n.tap(6)));
  EXPECT_TRUE(n.critical(n.step(true, 2, kNoLink, kNoLink, head_flick)));
  std::size_t plain_head = n.step(false, 1);
  EXPECT_FALSE(n.critical(n.step(false, 2, kNoLink, kNoLink, plain_head)));

  // A head that is not a slide, and no head at all.
  std::size_t not_slide = n.tap(2);
  EXPECT_FALSE(n.critical(n.step(false, 3, kNoLink, kNoLink, not_slide)));
  Slide headless;
  EXPECT_FALSE(Slide::is_critical(headless, n.list));
  // A directional link that points at a non-directional note is ignored.
  Slide odd;
  odd.directional = n.tap(2);
  EXPECT_FALSE(Slide::is_critical(odd, n.list));
}

TEST(SlideTrend, TapOrFlickTap) {
  Notes n;
  EXPECT_TRUE(n.trend(n.step(false, 1, n.tap(5))));
  EXPECT_TRUE(n.trend(n.step(false, 1, n.tap(6))));
  EXPECT_TRUE(n.trend(n.step(false, 1, kNoLink, n.flick(n.tap(5)))));
  EXPECT_FALSE(n.trend(n.step(false, 1, n.tap(2))));
  EXPECT_FALSE(n.trend(n.step(false, 1, kNoLink, n.flick(kNoLink, 5))));
  // Trend is the step's own: the head is not consulted.
  std::size_t head = n.step(false, 1, n.tap(5));
  EXPECT_FALSE(n.trend(n.step(false, 3, kNoLink, kNoLink, head)));
}

TEST(TickMarks, PlainSlideSteps) {
  Notes n;
  EXPECT_EQ(n.tick(n.step(false, 5)), kNone);
  EXPECT_EQ(n.tick(n.step(false, 3)), false);
  EXPECT_EQ(n.tick(n.step(false, 1, n.tap(5))), false);
  EXPECT_EQ(n.tick(n.step(false, 1, n.tap(1))), true);
  EXPECT_EQ(n.tick(n.step(false, 1)), true);
  EXPECT_EQ(n.tick(n.step(false, 2, kNoLink, n.flick(n.tap(6)))), false);
  // Hidden tap types win over everything.
  EXPECT_EQ(n.tick(n.step(false, 1, n.tap(7))), kNone);
  EXPECT_EQ(n.tick(n.step(false, 3, n.tap(8))), kNone);
}

TEST(TickMarks, DecorationSlideSteps) {
  Notes n;
  EXPECT_EQ(n.tick(n.step(true, 1, n.tap(1))), true);
  EXPECT_EQ(n.tick(n.step(true, 1, n.tap(2))), true);
  EXPECT_EQ(n.tick(n.step(true, 1, n.tap(5))), false);
  EXPECT_EQ(n.tick(n.step(true, 1)), kNone);
  EXPECT_EQ(n.tick(n.step(true, 1, n.tap(7))), kNone);
  EXPECT_EQ(n.tick(n.step(true, 1, kNoLink, n.flick())), true);
  EXPECT_EQ(n.tick(n.step(true, 1, kNoLink, n.flick(n.tap(6)))), false);
  EXPECT_EQ(n.tick(n.step(true, 1, kNoLink, n.flick(n.tap(2)))), true);
  // The step's own type does not matter on the decoration kind.
  EXPECT_EQ(n.tick(n.step(true, 5, n.tap(1))), true);
  EXPECT_EQ(n.tick(n.step(true, 3)), kNone);
  // A trend tap plus a flick: the flick decides.
  EXPECT_EQ(n.tick(n.step(true, 1, n.tap(5), n.flick())), true);
  // A directional link to a non-directional note: short mark.
  EXPECT_EQ(n.tick(n.step(true, 1, kNoLink, n.tap(1))), false);
}

TEST(TickMarks, TapsAndFlicks) {
  Notes n;
  for (std::uint32_t t : {0u, 1u, 2u, 3u, 4u, 9u, 35u}) EXPECT_EQ(n.tick(n.tap(t)), true) << t;
  EXPECT_EQ(n.tick(n.tap(5)), false);
  EXPECT_EQ(n.tick(n.tap(6)), false);
  EXPECT_EQ(n.tick(n.tap(7)), kNone);
  EXPECT_EQ(n.tick(n.tap(8)), kNone);

  EXPECT_EQ(n.tick(n.flick()), true);
  EXPECT_EQ(n.tick(n.flick(kNoLink, 7)), true);  // own type ignored
  EXPECT_EQ(n.tick(n.flick(n.tap(5))), false);
  EXPECT_EQ(n.tick(n.flick(n.tap(6))), false);
  EXPECT_EQ(n.tick(n.flick(n.tap(7))), true);  // only 5 and 6 count for flicks
  EXPECT_EQ(n.tick(n.flick(n.tap(2))), true);
}

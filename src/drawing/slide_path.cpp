#include "drawing/slide_path.hpp"

#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "drawing/layout.hpp"
#include "drawing/markup.hpp"

namespace corvane {

namespace {

double edge_x(const Drawing& drawing, std::int64_t lanes_from_left) {
  return static_cast<double>(lanes_from_left) * static_cast<double>(drawing.lane_width) +
         static_cast<double>(drawing.margin_x);
}

double bezier(double p0, double c1, double c2, double p3, double t) {
  const double u = 1.0 - t;
  return p0 * u * u * u + 3.0 * c1 * u * u * t + 3.0 * c2 * u * t * t + p3 * t * t * t;
}

// t where the segment's height reaches yr, by bisection; Y falls as t grows
// for a segment that runs forward in time.
double solve_height(const CurveSegment& seg, double yr) {
  double lo = 0.0;
  double hi = 1.0;
  double t = 0.5;
  for (int evaluations = 0; evaluations < 100; ++evaluations) {
    const double y = bezier(seg.p0y, seg.c1y, seg.c2y, seg.p3y, t);
    if (std::abs(y - yr) < 0.1) break;
    if (y > yr) {
      lo = t;
    } else {
      hi = t;
    }
    t = (lo + hi) / 2.0;
  }
  return t;
}

// The outline of a slide band: up the left edge, across the top, down the
// right edge, as path data.
struct SlideOutline {
  const std::vector<CurveSegment>& left;
  const std::vector<CurveSegment>& right;
};

}  // namespace

template <>
struct MarkupArg<SlideOutline> {
  static constexpr std::size_t bound = kUnbounded;
  static void put(MarkupSink& sink, const SlideOutline& outline) {
    const CurveSegment& first = outline.left.front();
    write_markup<"M{},{}">(sink, first.p0x, first.p0y);
    for (const CurveSegment& s : outline.left) {
      write_markup<"C{},{},{},{},{},{}">(sink, s.c1x, s.c1y, s.c2x, s.c2y, s.p3x, s.p3y);
    }
    const CurveSegment& last = outline.right.back();
    write_markup<"L{},{}">(sink, last.p3x, last.p3y);
    for (auto s = outline.right.rbegin(); s != outline.right.rend(); ++s) {
      write_markup<"C{},{},{},{},{},{}">(sink, s->c2x, s->c2y, s->c1x, s->c1y, s->p0x, s->p0y);
    }
    write_markup<"z">(sink);
  }
};

void write_slide_path(const Drawing& drawing, const Score& score, std::size_t start, Fraction end,
                      std::string& slide_paths, std::string& relay_images) {
  ColumnYCache y(drawing, score, end);
  SlidePathScratch scratch;
  const DocumentBudget budget;
  write_slide_path(drawing, y, start, slide_paths, relay_images, scratch, budget);
}

void write_slide_path(const Drawing& drawing, ColumnYCache& column_y_of, std::size_t start,
                      std::string& slide_paths, std::string& relay_images,
                      SlidePathScratch& scratch, const DocumentBudget& budget) {
  const std::span<const NoteData> notes(column_y_of.score().notes);
  std::vector<CurveSegment>& left = scratch.left;
  std::vector<CurveSegment>& right = scratch.right;
  std::vector<std::size_t>& relays = scratch.relays;
  left.clear();
  right.clear();

  const double lane_width = static_cast<double>(drawing.lane_width);
  std::size_t cur = start;

  while (true) {
    const NoteData& from = notes[cur];
    if (!from.is_slide() || from.base.note_type == 2 || from.slide.next == kNoLink) break;

    // Next point where the band bends; relays on the way are collected.
    relays.clear();
    std::size_t next_point = from.slide.next;
    while (true) {
      const NoteData& j = notes[next_point];
      if (j.base.note_type == 3) relays.push_back(next_point);
      if (!j.is_slide()) break;
      if (j.base.note_type != 0 && !is_attached_relay(j)) break;
      if (j.slide.next == kNoLink) break;
      next_point = j.slide.next;
    }
    const NoteData& to = notes[next_point];

    const double y0 = column_y_of(from.base.bar);
    const double y3 = column_y_of(to.base.bar);
    const double ym = (y0 + y3) / 2.0;
    double c1 = y0;
    double c2 = y3;
    if (from.slide.directional != kNoLink) {
      const std::uint32_t d = notes[from.slide.directional].base.note_type;
      if (d == 2) c1 = ym;
      if (d == 5 || d == 6) c2 = ym;
    }

    const double off = from.slide.decoration ? 0.0 : drawing.slide_edge_offset;
    const std::int64_t from_lane = static_cast<std::int32_t>(from.base.lane);
    const std::int64_t to_lane = static_cast<std::int32_t>(to.base.lane);
    const std::int64_t from_width = static_cast<std::int32_t>(from.base.width);
    const std::int64_t to_width = static_cast<std::int32_t>(to.base.width);
    const double xl0 = edge_x(drawing, from_lane - 2) - off;
    const double xl3 = edge_x(drawing, to_lane - 2) - off;
    const double xr0 = edge_x(drawing, from_lane - 2 + from_width) + off;
    const double xr3 = edge_x(drawing, to_lane - 2 + to_width) + off;

    const CurveSegment& l = left.emplace_back(CurveSegment{xl0, y0, xl0, c1, xl3, c2, xl3, y3});
    const CurveSegment& r = right.emplace_back(CurveSegment{xr0, y0, xr0, c1, xr3, c2, xr3, y3});

    for (const std::size_t relay : relays) {
      const NoteData& rn = notes[relay];
      const double yr = column_y_of(rn.base.bar);
      const double t = solve_height(l, yr);
      // Centre of the band at that height, whatever the relay's own lanes.
      const double cx = (bezier(l.p0x, l.c1x, l.c2x, l.p3x, t) +
                         bezier(r.p0x, r.c1x, r.c2x, r.p3x, t)) /
                        2.0;
      const bool critical = rn.is_slide() && Slide::is_critical(rn.slide, notes);
      // Host and extension are caller-given: escaped to keep the attribute closed.
      append_markup<R"svg(<image href="{}/{}.{}" x="{}" y="{}" width="{}" height="{}"/>)svg">(
          relay_images, Escaped{drawing.note_host},
          critical ? "notes_long_among_crtcl" : "notes_long_among",
          Escaped{drawing.note_asset_extension}, cx - lane_width / 2.0, yr - lane_width / 2.0,
          drawing.lane_width, drawing.lane_width);
      budget.check(relay_images.size());
    }

    cur = next_point;
  }

  if (left.empty()) return;

  const NoteData& first = notes[start];
  const bool critical = Slide::is_critical(first.slide, notes);
  const char* cls = first.slide.decoration ? (critical ? "decoration-critical" : "decoration")
                                           : (critical ? "slide-critical" : "slide");
  append_markup<R"svg(<path d="{}" class="{}"/>)svg">(slide_paths, SlideOutline{left, right}, cls);
}

}  // namespace corvane

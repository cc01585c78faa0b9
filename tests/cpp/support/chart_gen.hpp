#pragma once
// Deterministic generator of large SUS charts for tests and benchmarks.
//
// generate_chart(measures, seed) returns a chart of `measures` measures
// (clamped to 1..1000, the three-digit measure range) with metadata headers,
// a ticks-per-beat request, BPM definitions and changes, bar-length changes,
// one long hi-speed timeline, taps, flicks, plain and decoration slides with
// relays (some carrying an absorbed tap or flick), and SKILL / FEVER notes on
// the special lanes. The same (measures, seed) always gives the same text.
#include <array>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

namespace chart_gen_detail {

struct Rng {
  std::uint64_t state;
  std::uint64_t next() {
    // splitmix64: fixed output on every platform, unlike std distributions.
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n).
  int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
  bool chance(int one_in) { return below(one_in) == 0; }
};

inline char digit36(int v) {
  return static_cast<char>(v < 10 ? '0' + v : 'a' + (v - 10));
}

inline void append_int(std::string& out, long long v) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, res.ptr);
}

inline void append_measure(std::string& out, int m) {
  out.push_back(static_cast<char>('0' + m / 100));
  out.push_back(static_cast<char>('0' + m / 10 % 10));
  out.push_back(static_cast<char>('0' + m % 10));
}

// One data line of a measure: key suffix after the measure and its cells.
struct CellLine {
  char kind;     // '1' tap, '5' flick, '3' slide, '9' decoration slide
  int lane;
  int channel;   // slides only
  std::vector<std::array<char, 2>> cells;
};

struct SlideState {
  bool active = false;
  int lane = 0;
  int width = 0;
  int steps_left = 0;
};

}  // namespace chart_gen_detail

inline std::string generate_chart(int measures, unsigned seed) {
  using namespace chart_gen_detail;
  if (measures < 1) measures = 1;
  if (measures > 1000) measures = 1000;
  Rng rng{0x5EEDC0DEULL ^ (static_cast<std::uint64_t>(seed) << 17) ^ seed};

  std::string out;
  out.reserve(static_cast<std::size_t>(measures) * 900 + 4096);

  out += "This chart was generated for tests.\n";
  out += "\n";
  out += "#TITLE \"Generated chart ";
  chart_gen_detail::append_int(out, seed);
  out += "\"\n";
  out += "#SUBTITLE \"\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88\"\n";  // a non-ASCII subtitle
  out += "#ARTIST \"Corvane\"\n";
  out += "#GENRE \"test\"\n";
  out += "#DESIGNER \"chart_gen\"\n";
  out += "#DIFFICULTY 3\n";
  out += "#PLAYLEVEL 31+\n";
  out += "#SONGID \"gen\"\n";
  out += "#WAVE \"gen.ogg\"\n";
  out += "#WAVEOFFSET 0.25\n";
  out += "#JACKET \"jacket.png\"\n";
  out += "#BASEBPM 160\n";
  out += "#REQUEST \"ticks_per_beat 480\"\n";
  out += "#REQUEST \"side_lane true\"\n";
  out += "\n";

  static constexpr std::string_view kBpms[] = {"160", "200", "80.5", "120", "240", "175/2"};
  for (int i = 0; i < 6; ++i) {
    out += "#BPM0";
    out.push_back(digit36(i + 1));
    out += ": ";
    out += kBpms[i];
    out += '\n';
  }
  out += "#00002: 4\n";
  out += "#00008: 01\n";

  // One long hi-speed timeline: a few entries every other measure.
  static constexpr std::string_view kSpeeds[] = {"1.0", "0.5", "1.25", "2.0", "0.75", "1.5", "0.25"};
  out += "#TIL00: \"";
  bool first = true;
  for (int m = 0; m < measures; m += 2) {
    int entries = 1 + rng.below(3);
    for (int e = 0; e < entries; ++e) {
      if (!first) out += ", ";
      first = false;
      chart_gen_detail::append_int(out, m);
      out.push_back('\'');
      chart_gen_detail::append_int(out, e * 480 + rng.below(4) * 120);
      out.push_back(':');
      out += kSpeeds[rng.below(7)];
    }
  }
  out += "\"\n";
  out += "#HISPEED 00\n";
  out += "#MEASUREHS 00\n\n";

  static constexpr int kResolutions[] = {16, 16, 16, 32, 48, 12, 8};
  static constexpr int kTapTypes[] = {1, 1, 1, 1, 2, 3, 4, 5, 6, 1};
  static constexpr int kPlainChannels = 6;
  static constexpr int kDecorationChannels = 3;
  std::array<SlideState, kPlainChannels + kDecorationChannels> slides{};

  std::vector<CellLine> lines;
  auto cells_of = [&](char kind, int lane, int channel, int res) -> std::vector<std::array<char, 2>>& {
    for (auto& l : lines)
      if (l.kind == kind && l.lane == lane && l.channel == channel) return l.cells;
    lines.push_back(CellLine{kind, lane, channel, std::vector<std::array<char, 2>>(
                                                      static_cast<std::size_t>(res), {'0', '0'})});
    return lines.back().cells;
  };
  auto put = [&](char kind, int lane, int channel, int res, int slot, int type, int width) {
    cells_of(kind, lane, channel, res)[static_cast<std::size_t>(slot)] = {digit36(type), digit36(width)};
  };

  for (int m = 0; m < measures; ++m) {
    lines.clear();
    const int res = kResolutions[rng.below(7)];

    if (m > 0 && m % 24 == 0) {
      out += '#';
      append_measure(out, m);
      out += "02: ";
      out += rng.chance(2) ? "3" : "4";
      out += '\n';
    }
    if (m > 0 && m % 16 == 0) {
      out += '#';
      append_measure(out, m);
      out += "08: ";
      out.push_back('0');
      out.push_back(digit36(1 + rng.below(6)));
      out += "000";
      out.push_back(digit36(1 + rng.below(6)));
      out += '\n';
    }
    if (m == measures / 2) {
      // A late redefinition: changes after it use the new value.
      out += "#BPM03: 96\n";
    }

    for (int slot = 0; slot < res; ++slot) {
      // Plain taps, some with a flick on top.
      if (rng.chance(3)) {
        int width = 1 + rng.below(4);
        int lane = 2 + rng.below(13 - width);
        put('1', lane, 0, res, slot, kTapTypes[rng.below(10)], width);
        if (rng.chance(5)) put('5', lane, 0, res, slot, 1 + rng.below(6), width);
      }
      // Slides: start, relay or end per channel, at most one step per slot.
      for (int c = 0; c < kPlainChannels + kDecorationChannels; ++c) {
        SlideState& s = slides[static_cast<std::size_t>(c)];
        const bool deco = c >= kPlainChannels;
        const char kind = deco ? '9' : '3';
        const int channel = deco ? c - kPlainChannels : c;
        if (!s.active) {
          if (!rng.chance(12)) continue;
          s.active = true;
          s.width = 1 + rng.below(4);
          s.lane = 2 + rng.below(13 - s.width);
          s.steps_left = 2 + rng.below(8);
          put(kind, s.lane, channel, res, slot, 1, s.width);
          if (rng.chance(3)) put('1', s.lane, 0, res, slot, deco ? 5 : 2, s.width);
        } else {
          if (!rng.chance(3)) continue;
          if (--s.steps_left > 0) {
            int shift = rng.below(3) - 1;
            if (s.lane + shift >= 2 && s.lane + shift + s.width - 1 <= 13) s.lane += shift;
            put(kind, s.lane, channel, res, slot, rng.chance(3) ? 5 : 3, s.width);
          } else {
            put(kind, s.lane, channel, res, slot, 2, s.width);
            if (rng.chance(3)) {
              put('1', s.lane, 0, res, slot, 1, s.width);
              put('5', s.lane, 0, res, slot, 1 + rng.below(4), s.width);
            }
            s.active = false;
          }
        }
      }
    }
    // Skill and fever notes on the special lanes.
    if (m % 20 == 5) put('1', 0, 0, res, 0, 1, 2);
    if (m % 50 == 10) put('1', 15, 0, res, 0, 1, 2);
    if (m % 50 == 40) put('1', 15, 0, res, 0, 2, 2);

    for (const CellLine& l : lines) {
      out += '#';
      append_measure(out, m);
      out.push_back(l.kind);
      out.push_back(digit36(l.lane));
      if (l.kind == '3' || l.kind == '9') out.push_back(digit36(l.channel));
      out += ':';
      out += (l.lane % 3 == 0) ? " " : "";  // blanks after the colon are allowed
      for (const auto& cell : l.cells) out.append(cell.data(), 2);
      out += (m % 7 == 0) ? "\r\n" : "\n";
    }
  }
  return out;
}

}  // namespace corvane

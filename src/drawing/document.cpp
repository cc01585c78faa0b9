#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "drawing/column.hpp"
#include "drawing/drawing.hpp"
#include "drawing/format.hpp"
#include "error.hpp"
#include "numbers.hpp"
#include "unicode.hpp"

namespace corvane {

void check_document_size(std::size_t bytes) {
  if (bytes <= kMaxDocumentBytes) return;
  std::string msg = "chart too large to render: the document exceeds ";
  append_int(msg, static_cast<std::int64_t>(kMaxDocumentBytes >> 20));
  msg += " MiB";
  throw Error(ErrorKind::Value, msg);
}

namespace {

constexpr std::string_view kSvgNamespace = "http://www.w3.org/2000/svg";
constexpr std::string_view kXlinkNamespace = "http://www.w3.org/1999/xlink";
constexpr std::int32_t kNoteKinds = 7;

constexpr std::string_view kGradients =
    "<linearGradient id=\"decoration-gradient\" x1=\"0\" y1=\"1\" x2=\"0\" y2=\"0\">"
    "<stop offset=\"0\" stop-color=\"var(--color-start)\"/>"
    "<stop offset=\"1\" stop-color=\"var(--color-stop)\"/></linearGradient>"
    "<linearGradient id=\"decoration-critical-gradient\" x1=\"0\" y1=\"1\" x2=\"0\" y2=\"0\">"
    "<stop offset=\"0\" stop-color=\"var(--color-start)\"/>"
    "<stop offset=\"1\" stop-color=\"var(--color-stop)\"/></linearGradient>";

// True when the whole text is a float literal (the grammar of read_float:
// no surrounding white space) whose value is zero; a literal that underflows
// counts as zero, inf and nan do not.
bool parses_as_float_zero(std::string_view text) {
  const std::optional<double> value = read_float(text);
  return value && *value == 0.0;
}

void append_skill_figure(std::string& out, double fraction) {
  out += '+';
  append_fixed(out, fraction * 100.0, 2);
  out += '%';
}

class Document {
 public:
  Document(Drawing& d, const Score& score, const Lyric* lyric) : d_(d), score_(score), lyric_(lyric) {}

  std::string render() {
    const std::int32_t last_bar = find_last_bar();
    build_overlays();
    const std::vector<std::pair<std::int32_t, std::int32_t>> bounds = column_bounds(last_bar);

    std::vector<ColumnResult> columns;
    columns.reserve(bounds.size());
    double w_sum = 0;
    double h_max = 0;
    std::size_t written = 0;
    for (const auto& [start, end] : bounds) {
      columns.push_back(render_sentence(d_, score_, lyric_, start, end));
      written += columns.back().fragment.size();
      check_document_size(written);
      w_sum += columns.back().width;
      if (columns.back().height > h_max) h_max = columns.back().height;
    }

    std::string out;
    std::size_t fragments = 0;
    for (const ColumnResult& c : columns) fragments += c.fragment.size();
    out.reserve(65536 + fragments);

    const double mx = d_.margin_x;
    const double my = d_.margin_y;
    const double meta_h = d_.meta_height;
    const double page_width = w_sum + 2.0 * mx;

    out += "<svg xmlns=\"";
    out += kSvgNamespace;
    out += "\" xmlns:xlink=\"";
    out += kXlinkNamespace;
    out += "\" width=\"";
    append_round(out, page_width);
    out += "\" height=\"";
    append_round(out, 2.0 * my + ((h_max + 2.0 * my) + meta_h));
    out += "\">";

    write_defs(out);
    write_band(out, h_max, page_width);

    double acc = 0;
    for (const ColumnResult& c : columns) {
      out += "<svg";
      append_box(out, acc + mx, (h_max - c.height) + my, c.width, c.height);
      out += '>';
      out += c.fragment;
      out += "</svg>";
      acc += c.width;
    }
    out += "</svg>";
    return out;
  }

 private:
  std::int32_t find_last_bar() const {
    if (score_.active_notes.empty()) return 0;
    const std::size_t index = score_.active_notes.back();
    if (index >= score_.notes.size()) return 0;
    const std::int64_t bar = score_.notes[index].base.bar.ceil();
    // Every bar up to the last is timed and drawn: refuse before that work.
    if (bar > kMaxRenderBars) {
      std::string msg = "chart too long to render: last bar ";
      append_int(msg, bar);
      msg += " exceeds ";
      append_int(msg, kMaxRenderBars);
      throw Error(ErrorKind::Value, msg);
    }
    if (bar < std::numeric_limits<std::int32_t>::min()) {
      return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(bar);
  }

  void build_overlays() {
    d_.cover_objects.clear();
    if (!d_.skill) return;
    const std::optional<MusicMeta>& meta = d_.music_meta;
    if (meta) {
      for (const Event& e : score_.events) {
        if (!e.text || *e.text != "SUPER FEVER!!") continue;
        CoverObject range;
        range.kind = CoverObject::Kind::Range;
        range.class_name = "fever-duration";
        range.from = e.bar;
        range.to = score_.get_bar_by_time(meta->fever_end_time);
        d_.cover_objects.push_back(std::move(range));
        CoverObject label;
        label.kind = CoverObject::Kind::Text;
        label.class_name = "skill-score";
        label.text = "multi+";
        append_fixed(label.text, meta->fever_score * 100.0, 2);
        label.text += '%';
        label.bar = e.bar;
        d_.cover_objects.push_back(std::move(label));
      }
    }
    std::size_t index = 0;
    for (const Event& e : score_.events) {
      if (!e.text || *e.text != "SKILL") continue;
      const double t = score_.time_at(e.bar).to_double();
      const auto range = [&](const char* cls, Fraction from, Fraction to) {
        CoverObject obj;
        obj.kind = CoverObject::Kind::Range;
        obj.class_name = cls;
        obj.from = from;
        obj.to = to;
        d_.cover_objects.push_back(std::move(obj));
      };
      range("skill-great", score_.get_bar_by_time(t - 1.0 / 12.0),
            score_.get_bar_by_time((t + 5.0) + 1.0 / 12.0));
      range("skill-perfect", score_.get_bar_by_time(t - 1.0 / 24.0),
            score_.get_bar_by_time((t + 5.0) + 1.0 / 24.0));
      range("skill-duration", e.bar, score_.get_bar_by_time(t + 5.0));
      if (meta && index < meta->skill_score_solo.size()) {
        if (index >= meta->skill_score_multi.size()) {
          throw Error(ErrorKind::Value,
                      "skill_score_multi has no entry for skill event " + std::to_string(index));
        }
        std::string solo;
        std::string multi;
        append_skill_figure(solo, meta->skill_score_solo[index]);
        append_skill_figure(multi, meta->skill_score_multi[index]);
        CoverObject label;
        label.kind = CoverObject::Kind::Text;
        label.class_name = "skill-score";
        if (solo == multi) {
          label.text = std::move(solo);
        } else {
          label.text = "solo" + solo + " multi" + multi;
        }
        label.bar = e.bar;
        d_.cover_objects.push_back(std::move(label));
      }
      ++index;
    }
  }

  std::vector<std::pair<std::int32_t, std::int32_t>> column_bounds(std::int32_t last_bar) {
    std::vector<std::pair<std::int32_t, std::int32_t>> bounds;
    std::string section;
    bool has_section = false;
    std::int32_t start = 0;
    const double target = d_.time_height * d_.target_segment_seconds;
    // Beat lines the columns will draw, counted as they do (a bar on a
    // column boundary is drawn twice, so this is at least half the total).
    double beat_lines = 0;
    for (std::int64_t b = 0; b <= last_bar; ++b) {
      const Fraction bar(b);
      const double dt = score_.get_time_delta_f64(Fraction(start), bar);
      // Read after the time query: the state reference is only good until
      // the next timing call.
      const Event& state = score_.state_at(bar);
      const double beats =
          std::ceil((state.bar_length ? *state.bar_length : Fraction(4)).to_double());
      if (beats >= 2.0) beat_lines += beats - 1.0;
      if (beat_lines > static_cast<double>(kMaxBeatLines)) {
        std::string msg = "chart too dense to render: more than ";
        append_int(msg, kMaxBeatLines);
        msg += " beat lines by bar ";
        append_int(msg, b);
        throw Error(ErrorKind::Value, msg);
      }
      if (b != start) {
        const bool section_changed =
            state.section.has_value() != has_section ||
            (has_section && *state.section != section);
        // Products compared as such; a NaN never closes a column.
        if (b == last_bar || section_changed || d_.time_height * dt >= target) {
          bounds.emplace_back(start, static_cast<std::int32_t>(b));
          start = static_cast<std::int32_t>(b);
        }
      }
      if (state.section && !state.section->empty()) {
        if (!has_section || section != *state.section) section = *state.section;
        has_section = true;
      }
    }
    return bounds;
  }

  void write_defs(std::string& out) {
    out += "<defs><style>";
    out += d_.style_sheet;  // inserted as given
    out += "</style>";
    out += kGradients;

    const double lw = d_.lane_width;
    const double ns = d_.note_size;
    const double cap = (ns / 56.0) * 32.0;
    const double clip_x = (ns / 56.0) * 80.0;
    for (std::int32_t k = 0; k < kNoteKinds; ++k) {
      out += "<symbol id=\"notes-";
      append_int(out, k);
      out += "\" viewBox=\"0 0 112 56\">";
      write_note_symbol_body(d_, out, k, -3, 118);
      out += "</symbol><symbol id=\"notes-";
      append_int(out, k);
      out += "-middle\" viewBox=\"0 0 ";
      append_int(out, 134400);
      out += " 56\">";
      write_note_symbol_body(d_, out, k, -37200, 141600);
      out += "</symbol>";
      for (std::int32_t w = 1; w <= d_.lane_count; ++w) {
        const double wd = w;
        const double s = lw * (wd + 1.0);
        const double m = (lw * wd - cap) + (-2.0);
        const double pad = (((s - cap) - m) - cap) * 0.5;
        const auto id = [&] {
          append_int(out, k);
          out += '-';
          append_int(out, w);
        };
        out += "<symbol id=\"notes-";
        id();
        out += "\" viewBox=\"0 0 ";
        append_shortest(out, s);
        out += ' ';
        append_shortest(out, ns);
        out += "\">";
        // Only the right cap's clip is moved; the others start at x 0.
        const auto clip = [&](std::string_view part, const double* x, double width) {
          out += "<clipPath id=\"notes-";
          id();
          out += part;
          out += "\"><rect x=\"";
          if (x != nullptr) {
            append_shortest(out, *x);
          } else {
            out += '0';
          }
          out += "\" y=\"0\" width=\"";
          append_shortest(out, width);
          out += "\" height=\"";
          append_shortest(out, ns);
          out += "\"/></clipPath>";
        };
        clip("-left", nullptr, cap);
        clip("-middle", nullptr, m);
        clip("-right", &clip_x, cap);
        const auto use = [&](std::string_view href_suffix, double x, double width,
                             std::string_view part) {
          out += "<use href=\"#notes-";
          append_int(out, k);
          out += href_suffix;
          out += "\" x=\"";
          append_shortest(out, x);
          out += "\" y=\"0\" width=\"";
          append_shortest(out, width);
          out += "\" height=\"";
          append_shortest(out, ns);
          out += "\" clip-path=\"url(#notes-";
          id();
          out += part;
          out += ")\"/>";
        };
        use("", pad, ns + ns, "-left");
        use("-middle", pad + cap, (ns * 1200.0) + (ns * 1200.0), "-middle");
        use("", (((pad + cap) + m) + cap) - (ns + ns), ns + ns, "-right");
        out += "</symbol>";
      }
    }
    out += "</defs>";
  }

  void write_band(std::string& out, double h_max, double page_width) {
    const double my = d_.margin_y;
    const double meta_h = d_.meta_height;
    const std::int64_t hp = round_even(h_max + 2.0 * my);
    const std::int64_t wr = round_even(page_width);

    out += "<rect x=\"0\" y=\"0\" width=\"";
    append_int(out, wr);
    out += "\" height=\"";
    append_int(out, hp);
    out += "\" class=\"background\"/><rect x=\"0\" y=\"";
    append_int(out, hp);
    out += "\" width=\"";
    append_int(out, wr);
    out += "\" height=\"";
    append_round(out, 2.0 * my + meta_h);
    out += "\" class=\"meta\"/><line x1=\"0\" y1=\"";
    append_int(out, hp);
    out += "\" x2=\"";
    append_int(out, wr);
    out += "\" y2=\"";
    append_int(out, hp);
    out += "\" class=\"meta-line\"/>";

    const Meta& meta = score_.meta;
    out += "<image href=\"";
    append_escaped(out, meta.jacket && !meta.jacket->empty() ? std::string_view(*meta.jacket)
                                                             : std::string_view(kDefaultJacketUrl));
    out += "\" x=\"";
    append_int(out, 2 * static_cast<std::int64_t>(d_.margin_x));
    out += "\" y=\"";
    append_round(out, h_max + 3.0 * my);
    out += "\" width=\"";
    append_int(out, d_.meta_height);
    out += "\" height=\"";
    append_int(out, d_.meta_height);
    out += "\"/>";

    const std::int64_t text_x =
        static_cast<std::int64_t>(d_.meta_height) + 4 * static_cast<std::int64_t>(d_.margin_x);

    std::string text;
    if (meta.title) text += *meta.title;
    if (meta.artist) {
      if (meta.title) text += " - ";
      text += *meta.artist;
    }
    if (text.empty()) text = "Untitled";
    out += "<text x=\"";
    append_int(out, text_x);
    out += "\" y=\"";
    append_round(out, ((h_max + meta_h) + 3.0 * my) - 16.0);
    out += "\" class=\"title\">";
    append_escaped(out, text);
    out += "</text>";

    text.clear();
    if (meta.difficulty && !meta.difficulty->empty() && !parses_as_float_zero(*meta.difficulty)) {
      text += unicode::to_upper(*meta.difficulty);
    }
    if (meta.playlevel && !meta.playlevel->empty()) {
      if (!text.empty()) text += ' ';
      text += *meta.playlevel;
    }
    if (!text.empty()) text += ' ';
    text += kAttribution;
    text += ",Generated by ";
    text += d_.generator;
    out += "<text x=\"";
    append_int(out, text_x);
    out += "\" y=\"";
    append_round(out, ((h_max + meta_h / 3.0) + 3.0 * my) - 8.0);
    out += "\" class=\"subtitle\">";
    append_escaped(out, text);
    out += "</text>";
  }

  Drawing& d_;
  const Score& score_;
  const Lyric* lyric_;
};

}  // namespace

std::string Drawing::svg(const Score& score, const Lyric* lyric) {
  return Document(*this, score, lyric).render();
}

}  // namespace corvane

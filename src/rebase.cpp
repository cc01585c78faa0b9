#include "rebase.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "error.hpp"
#include "numbers.hpp"

namespace corvane {

namespace {

using json = nlohmann::json;

// Builds the document tree through the SAX interface so that a failure keeps
// its byte position; the tree API loses it for some errors (a number that
// overflows a double) and counts columns oddly after a line feed.
class TreeBuilder {
 public:
  explicit TreeBuilder(json& root) : root_(root) {}

  bool null() { return put(json(nullptr)); }
  bool boolean(bool v) { return put(json(v)); }
  bool number_integer(json::number_integer_t v) { return put(json(v)); }
  bool number_unsigned(json::number_unsigned_t v) { return put(json(v)); }
  bool number_float(json::number_float_t v, const json::string_t&) { return put(json(v)); }
  bool string(json::string_t& v) { return put(json(std::move(v))); }
  bool binary(json::binary_t& v) { return put(json::binary(std::move(v))); }

  bool start_object(std::size_t) {
    stack_.push_back(place(json(json::value_t::object)));
    return true;
  }
  bool key(json::string_t& k) {
    // A repeated key overwrites the earlier value, as in a map.
    slot_ = &(*stack_.back())[k];
    return true;
  }
  bool end_object() {
    stack_.pop_back();
    return true;
  }
  bool start_array(std::size_t) {
    stack_.push_back(place(json(json::value_t::array)));
    return true;
  }
  bool end_array() {
    stack_.pop_back();
    return true;
  }

  bool parse_error(std::size_t position, const std::string&, const json::exception& ex) {
    failed_ = true;
    position_ = position;
    what_ = ex.what();
    return false;
  }

  bool failed() const noexcept { return failed_; }
  std::size_t position() const noexcept { return position_; }
  const std::string& what() const noexcept { return what_; }

 private:
  bool put(json&& v) {
    place(std::move(v));
    return true;
  }
  // Pointers kept on the stack stay valid: an array only grows while it is
  // the innermost open container, and object members never move.
  json* place(json&& v) {
    if (stack_.empty()) {
      root_ = std::move(v);
      return &root_;
    }
    json& top = *stack_.back();
    if (top.is_array()) {
      auto& arr = top.get_ref<json::array_t&>();
      arr.push_back(std::move(v));
      return &arr.back();
    }
    *slot_ = std::move(v);
    return slot_;
  }

  json& root_;
  std::vector<json*> stack_;
  json* slot_ = nullptr;
  bool failed_ = false;
  std::size_t position_ = 0;
  std::string what_;
};

// The parser's own description without its id prefix, its position (counted
// again below, by line and character) and the raw text it last read, which
// may stop inside a multi-byte character.
std::string describe(const std::string& what) {
  std::string_view s = what;
  if (!s.empty() && s.front() == '[') {
    const std::size_t close = s.find("] ");
    if (close != std::string_view::npos) s.remove_prefix(close + 2);
  }
  if (s.starts_with("parse error")) {
    const std::size_t colon = s.find(": ");
    if (colon != std::string_view::npos) s.remove_prefix(colon + 2);
  }
  std::string out;
  const std::size_t last_read = s.find("; last read: '");
  if (last_read == std::string_view::npos) {
    out.assign(s);
  } else {
    out.assign(s.substr(0, last_read));
    const std::size_t expected = s.rfind("'; expected ");
    if (expected != std::string_view::npos && expected > last_read) out.append(s.substr(expected + 1));
  }
  if (out.empty()) out = "invalid JSON";
  return out;
}

// "<description> at line L column C"; the parser's position counts bytes
// read, one past the offending byte (or past the end of the input). Columns
// count characters from 1.
std::string error_message(std::string_view text, std::size_t position, const std::string& what) {
  const std::size_t at = std::min(position > 0 ? position - 1 : 0, text.size());
  std::size_t line = 1;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < at; ++i) {
    if (text[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  std::size_t column = 1;
  for (std::size_t i = line_start; i < at; ++i)
    column += (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;

  std::string msg = describe(what);
  msg += " at line ";
  append_int(msg, line);
  msg += " column ";
  append_int(msg, column);
  return msg;
}

json parse_document(std::string_view text) {
  json root;
  TreeBuilder builder(root);
  json::sax_parse(text.begin(), text.end(), &builder);
  if (builder.failed()) throw Error(ErrorKind::Json, error_message(text, builder.position(), builder.what()));
  return root;
}

const json* member(const json& obj, const char* key) {
  auto it = obj.find(key);
  return it == obj.end() ? nullptr : &*it;
}

Event rebase_event_from_json(const json& v) {
  Event e;
  if (!v.is_object()) return e;
  if (const json* bar = member(v, "bar"); bar && bar->is_number())
    e.bar = Fraction::from_f64(bar->get<double>());
  if (const json* bpm = member(v, "bpm"); bpm && bpm->is_number())
    e.bpm = Fraction::from_f64(bpm->get<double>());
  if (const json* len = member(v, "barLength"); len && len->is_number())
    e.bar_length = Fraction::from_f64(len->get<double>());
  if (const json* sl = member(v, "sentenceLength")) {
    std::optional<std::int64_t> whole;
    if (sl->is_number_unsigned()) {
      const auto u = sl->get<json::number_unsigned_t>();
      if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        whole = static_cast<std::int64_t>(u);
    } else if (sl->is_number_integer()) {
      whole = sl->get<json::number_integer_t>();
    }
    // Wrapped to the low 32 bits, as a two's complement i32.
    if (whole) e.sentence_length = static_cast<std::int32_t>(static_cast<std::uint32_t>(*whole));
  }
  if (const json* s = member(v, "section"); s && s->is_string()) e.section = s->get<std::string>();
  if (const json* t = member(v, "text"); t && t->is_string()) e.text = t->get<std::string>();
  return e;
}

Meta meta_from_json(const json& obj) {
  Meta meta;
  std::string number;
  for (auto it = obj.begin(); it != obj.end(); ++it) {
    const json& v = it.value();
    if (v.is_string()) {
      meta.set_field(it.key(), v.get_ref<const json::string_t&>());
    } else if (v.is_number() && Meta::has_field(it.key())) {
      number.clear();
      append_shortest_positional(number, v.get<double>());
      meta.set_field(it.key(), number);
    }
  }
  return meta;
}

}  // namespace

Rebase Rebase::from_json(std::string_view text) {
  const json root = parse_document(text);
  Rebase rebase;
  if (!root.is_object()) return rebase;
  if (const json* off = member(root, "offset"); off && off->is_number()) rebase.offset = off->get<double>();
  if (const json* evs = member(root, "events"); evs && evs->is_array()) {
    rebase.events.reserve(evs->size());
    for (const json& e : *evs) rebase.events.push_back(rebase_event_from_json(e));
  }
  if (const json* m = member(root, "meta"); m && m->is_object()) rebase.meta = meta_from_json(*m);
  return rebase;
}

Score Rebase::apply(const Score& score) const {
  Score out;
  out.meta = Meta::merge(score.meta, meta);

  std::size_t carried = 0;
  for (const Event& e : score.events) carried += e.speed.has_value() || e.text.has_value();
  out.events.reserve(events.size() + carried);
  out.events.assign(events.begin(), events.end());

  // The bar-at-time walk over the new score's events as they grow: each
  // lookup is what out.get_bar_by_time would answer at that moment, without
  // walking the whole list per note.
  TimeWalk walk;
  for (const Event& e : events) walk.push(e);

  // Notes linked together share a bar, and chords share bars too: old bar to
  // new bar is worked out once. The events do not change while notes move.
  std::unordered_map<Fraction, Fraction, FractionHash> new_bars;
  new_bars.reserve(score.active_notes.size());
  auto retime = [&](Fraction old_bar) {
    auto [it, fresh] = new_bars.try_emplace(old_bar);
    if (fresh) it->second = walk.bar_at(score.time_at(old_bar).to_double() - offset);
    return it->second;
  };

  const std::vector<NoteData>& old = score.notes;
  out.notes.reserve(old.size());
  // A fresh record of the same kind; links are rebuilt by init_notes.
  auto append = [&](const NoteData& n) {
    NoteBase base = n.base;
    base.bar = retime(n.base.bar);
    switch (n.kind) {
      case NoteData::Kind::Tap:
        out.notes.push_back(NoteData::tap(base));
        break;
      case NoteData::Kind::Directional:
        out.notes.push_back(NoteData::make_directional(base));
        break;
      case NoteData::Kind::Slide:
        out.notes.push_back(NoteData::make_slide(base, n.slide.channel, n.slide.decoration));
        break;
    }
  };

  for (std::size_t index : score.active_notes) {
    const NoteData& n = old[index];
    append(n);
    if (n.is_slide()) {
      const Slide& s = n.slide;
      if (s.tap != kNoLink) append(old[s.tap]);
      if (s.directional != kNoLink) {
        const NoteData& d = old[s.directional];
        append(d);
        if (d.is_directional() && d.directional.tap != kNoLink && d.directional.tap != s.tap)
          append(old[d.directional.tap]);
      }
    } else if (n.is_directional() && n.directional.tap != kNoLink) {
      append(old[n.directional.tap]);
    }
  }

  // Carried events join the walk one by one: a later lookup sees the rebase
  // events followed by the events carried before it.
  for (const Event& e : score.events) {
    if (!e.speed && !e.text) continue;
    Event moved = e;
    moved.bar = walk.bar_at(score.time_at(e.bar).to_double() - offset);
    walk.push(moved);
    out.events.push_back(std::move(moved));
  }

  std::stable_sort(out.events.begin(), out.events.end(),
                   [](const Event& a, const Event& b) { return a.bar < b.bar; });
  std::stable_sort(out.notes.begin(), out.notes.end(),
                   [](const NoteData& a, const NoteData& b) { return a.base.bar < b.base.bar; });

  out.init_notes();
  out.init_events();
  return out;
}

}  // namespace corvane

#include "meta.hpp"

#include <array>

#include "fraction.hpp"
#include "merge_rule.hpp"

namespace corvane {

namespace {

using TextField = std::optional<std::string> Meta::*;
using NumberField = std::optional<double> Meta::*;

struct TextEntry {
  std::string_view name;
  TextField field;
};

constexpr std::array<TextEntry, 13> kTextFields{{
    {"title", &Meta::title},
    {"subtitle", &Meta::subtitle},
    {"artist", &Meta::artist},
    {"genre", &Meta::genre},
    {"designer", &Meta::designer},
    {"difficulty", &Meta::difficulty},
    {"playlevel", &Meta::playlevel},
    {"songid", &Meta::songid},
    {"wave", &Meta::wave},
    {"waveoffset", &Meta::waveoffset},
    {"jacket", &Meta::jacket},
    {"background", &Meta::background},
    {"movie", &Meta::movie},
}};

constexpr std::array<std::pair<std::string_view, NumberField>, 2> kNumberFields{{
    {"movieoffset", &Meta::movieoffset},
    {"basebpm", &Meta::basebpm},
}};

}  // namespace

bool Meta::has_field(std::string_view key) noexcept {
  for (const auto& e : kTextFields)
    if (e.name == key) return true;
  for (const auto& e : kNumberFields)
    if (e.first == key) return true;
  return false;
}

void Meta::set_field(std::string_view key, std::string_view value) {
  for (const auto& e : kTextFields) {
    if (e.name == key) {
      (this->*e.field).emplace(value);
      return;
    }
  }
  for (const auto& e : kNumberFields) {
    if (e.first == key) {
      // A zero denominator throws from parse and reaches the caller.
      if (std::optional<Fraction> f = Fraction::parse(value)) {
        this->*e.second = f->to_double();
      }
      return;
    }
  }
}

Meta Meta::merge(const Meta& receiver, const Meta& other) {
  Meta out;
  for (const auto& e : kTextFields) {
    const auto& mine = receiver.*e.field;
    out.*e.field = is_set(mine) ? mine : other.*e.field;
  }
  for (const auto& e : kNumberFields) {
    const auto& mine = receiver.*e.second;
    out.*e.second = is_set(mine) ? mine : other.*e.second;
  }
  return out;
}

}  // namespace corvane

#pragma once
// Song metadata from a chart's header or a rebase document.
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

struct Meta {
  std::optional<std::string> title;
  std::optional<std::string> subtitle;
  std::optional<std::string> artist;
  std::optional<std::string> genre;
  std::optional<std::string> designer;
  std::optional<std::string> difficulty;
  std::optional<std::string> playlevel;
  std::optional<std::string> songid;
  std::optional<std::string> wave;
  std::optional<std::string> waveoffset;
  std::optional<std::string> jacket;
  std::optional<std::string> background;
  std::optional<std::string> movie;
  std::optional<double> movieoffset;
  std::optional<double> basebpm;

  // True for the fifteen exact lower-case field names.
  static bool has_field(std::string_view key) noexcept;
  // Stores value under key; basebpm/movieoffset parse as fractions (a zero
  // denominator throws). Unknown keys change nothing.
  void set_field(std::string_view key, std::string_view value);
  // New record: the receiver's value wins where it is set.
  static Meta merge(const Meta& receiver, const Meta& other);

  bool operator==(const Meta&) const = default;
};

}  // namespace corvane

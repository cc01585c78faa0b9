#include "drawing/drawing.hpp"

#include <utility>

#include "drawing/style.hpp"
#include "unicode.hpp"

namespace corvane {

const char* const kDefaultNoteHost = "https://assets.corvane.dev/live/note/custom01";
const char* const kDefaultJacketUrl =
    "https://storage.corvane.dev/lumra-jp-assets/thumbnail/chara_rip/res009_no021_normal.png";
const char* const kAttribution = "Chart images belong to their respective owners";

Drawing::Drawing(std::optional<std::string> note_host_arg,
                 std::optional<std::string> style_sheet_arg, bool skill_arg,
                 std::optional<MusicMeta> music_meta_arg,
                 std::optional<double> target_segment_seconds_arg,
                 std::optional<std::string> generator_arg)
    : music_meta(std::move(music_meta_arg)), skill(skill_arg) {
  note_host = note_host_arg ? std::move(*note_host_arg) : std::string(kDefaultNoteHost);
  if (generator_arg) generator = std::move(*generator_arg);
  if (target_segment_seconds_arg) target_segment_seconds = *target_segment_seconds_arg;
  const std::string_view base = default_style_sheet();
  if (style_sheet_arg) {
    // A given sheet extends the default one; it never replaces it.
    style_sheet.reserve(base.size() + 1 + style_sheet_arg->size());
    style_sheet.append(base);
    style_sheet += '\n';
    style_sheet += *style_sheet_arg;
  } else {
    style_sheet.assign(base);
  }
}

void Drawing::set_note_asset_extension(std::string extension) {
  std::string_view rest = unicode::trim(extension);
  while (!rest.empty() && rest.front() == '.') rest.remove_prefix(1);
  std::string result(rest);
  for (char& c : result) c = unicode::ascii_lower(c);
  note_asset_extension = std::move(result);
}

}  // namespace corvane

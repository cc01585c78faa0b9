#pragma once
// Unicode helpers on UTF-8 text, always by code point.
#include <cstddef>
#include <string>
#include <string_view>

namespace corvane::unicode {

// Decodes the code point starting at text[pos] and advances pos. Text is
// assumed valid UTF-8 (chart text is validated on input); a malformed byte
// decodes as U+FFFD and advances by one.
char32_t next_code_point(std::string_view text, std::size_t& pos) noexcept;
std::size_t count_code_points(std::string_view text) noexcept;
// Byte offset of the code point with index `index` (text.size() when past the end).
std::size_t code_point_offset(std::string_view text, std::size_t index) noexcept;
bool is_valid_utf8(std::string_view text) noexcept;
void append_utf8(std::string& out, char32_t cp);

bool is_white_space(char32_t cp) noexcept;    // Unicode White_Space property
bool is_decimal_digit(char32_t cp) noexcept;  // general category Nd
// UTS #18 word character: Alphabetic, marks, Nd, connector punctuation,
// U+200C and U+200D.
bool is_word_char(char32_t cp) noexcept;

// Folds A-Z to a-z and leaves every other byte alone, whatever the locale.
constexpr char ascii_lower(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Removes leading and trailing White_Space characters.
std::string_view trim(std::string_view text) noexcept;

// Full Unicode case mappings (ICU).
std::string to_lower(std::string_view text);
std::string to_upper(std::string_view text);

}  // namespace corvane::unicode

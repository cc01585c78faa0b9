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
bool is_valid_utf8(std::string_view text) noexcept;

bool is_white_space(char32_t cp) noexcept;    // Unicode White_Space property
bool is_decimal_digit(char32_t cp) noexcept;  // general category Nd

// True when every byte is below 0x80: such text needs no decoding, and one
// byte is one code point. Inline: the chart reader asks it of every line.
constexpr bool all_ascii(std::string_view text) noexcept {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

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

#include "unicode.hpp"

#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/uchar.h>
#include <unicode/utypes.h>

#include <climits>
#include <cstdint>

#include "error.hpp"

namespace corvane::unicode {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

inline unsigned char byte_at(std::string_view text, std::size_t i) noexcept {
  return static_cast<unsigned char>(text[i]);
}

inline bool is_continuation(unsigned char b) noexcept { return (b & 0xC0) == 0x80; }

// Decodes one well-formed UTF-8 sequence at text[pos] (Unicode's table of
// well-formed byte sequences: no overlongs, no surrogates, nothing above
// U+10FFFF). Returns its length, or 0 when the bytes there are ill-formed.
inline std::size_t decode_at(std::string_view text, std::size_t pos, char32_t& cp) noexcept {
  const std::size_t left = text.size() - pos;
  const unsigned char b0 = byte_at(text, pos);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  if (b0 < 0xC2) return 0;  // stray continuation byte or overlong lead
  if (b0 < 0xE0) {
    if (left < 2) return 0;
    const unsigned char b1 = byte_at(text, pos + 1);
    if (!is_continuation(b1)) return 0;
    cp = (char32_t(b0 & 0x1F) << 6) | (b1 & 0x3F);
    return 2;
  }
  if (b0 < 0xF0) {
    if (left < 3) return 0;
    const unsigned char b1 = byte_at(text, pos + 1);
    const unsigned char b2 = byte_at(text, pos + 2);
    const unsigned char lo = b0 == 0xE0 ? 0xA0 : 0x80;
    const unsigned char hi = b0 == 0xED ? 0x9F : 0xBF;
    if (b1 < lo || b1 > hi || !is_continuation(b2)) return 0;
    cp = (char32_t(b0 & 0x0F) << 12) | (char32_t(b1 & 0x3F) << 6) | (b2 & 0x3F);
    return 3;
  }
  if (b0 < 0xF5) {
    if (left < 4) return 0;
    const unsigned char b1 = byte_at(text, pos + 1);
    const unsigned char b2 = byte_at(text, pos + 2);
    const unsigned char b3 = byte_at(text, pos + 3);
    const unsigned char lo = b0 == 0xF0 ? 0x90 : 0x80;
    const unsigned char hi = b0 == 0xF4 ? 0x8F : 0xBF;
    if (b1 < lo || b1 > hi || !is_continuation(b2) || !is_continuation(b3)) return 0;
    cp = (char32_t(b0 & 0x07) << 18) | (char32_t(b1 & 0x3F) << 12) |
         (char32_t(b2 & 0x3F) << 6) | (b3 & 0x3F);
    return 4;
  }
  return 0;
}

inline bool is_ascii_white_space(unsigned char c) noexcept {
  return c == ' ' || (c >= 0x09 && c <= 0x0D);
}

// Wraps ICU's full case mapping over UTF-8 (root locale, so no Turkish or
// Lithuanian special casing).
template <typename Map>
std::string map_case(std::string_view text, Map map) {
  if (text.size() > static_cast<std::size_t>(INT32_MAX)) {
    throw Error(ErrorKind::Value, "text too long for case mapping");
  }
  std::string out;
  out.reserve(text.size() + text.size() / 4 + 4);
  icu::StringByteSink<std::string> sink(&out);
  UErrorCode status = U_ZERO_ERROR;
  map(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())), sink, status);
  if (U_FAILURE(status)) {
    throw Error(ErrorKind::Runtime,
                std::string("case mapping failed: ") + u_errorName(status));
  }
  return out;
}

}  // namespace

char32_t next_code_point(std::string_view text, std::size_t& pos) noexcept {
  if (pos >= text.size()) return 0;  // past the end: nothing to decode
  char32_t cp = 0;
  const std::size_t len = decode_at(text, pos, cp);
  if (len == 0) {
    ++pos;
    return kReplacement;
  }
  pos += len;
  return cp;
}

bool is_valid_utf8(std::string_view text) noexcept {
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (byte_at(text, pos) < 0x80) {
      ++pos;
      continue;
    }
    char32_t cp = 0;
    const std::size_t len = decode_at(text, pos, cp);
    if (len == 0) return false;
    pos += len;
  }
  return true;
}

bool is_white_space(char32_t cp) noexcept {
  if (cp < 0x80) return is_ascii_white_space(static_cast<unsigned char>(cp));
  return u_isUWhiteSpace(static_cast<UChar32>(cp)) != 0;
}

bool is_decimal_digit(char32_t cp) noexcept {
  if (cp < 0x80) return cp >= '0' && cp <= '9';
  return u_charType(static_cast<UChar32>(cp)) == U_DECIMAL_DIGIT_NUMBER;
}

std::string_view trim(std::string_view text) noexcept {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const unsigned char b = byte_at(text, begin);
    if (b < 0x80) {
      if (!is_ascii_white_space(b)) break;
      ++begin;
      continue;
    }
    std::size_t next = begin;
    if (!is_white_space(next_code_point(text, next))) break;
    begin = next;
  }
  std::size_t end = text.size();
  while (end > begin) {
    const unsigned char b = byte_at(text, end - 1);
    if (b < 0x80) {
      if (!is_ascii_white_space(b)) break;
      --end;
      continue;
    }
    // Step back to the lead byte of the last sequence; if the bytes there do
    // not form exactly one sequence ending at `end`, the last byte is a lone
    // malformed byte, which is never white space.
    std::size_t start = end - 1;
    while (start > begin && end - start < 4 && is_continuation(byte_at(text, start))) --start;
    char32_t cp = 0;
    const std::size_t len = decode_at(text, start, cp);
    if (len == 0 || start + len != end || !is_white_space(cp)) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

std::string to_lower(std::string_view text) {
  if (all_ascii(text)) {
    std::string out(text);
    for (char& c : out) c = ascii_lower(c);
    return out;
  }
  return map_case(text, [](icu::StringPiece s, icu::ByteSink& sink, UErrorCode& status) {
    icu::CaseMap::utf8ToLower("", 0, s, sink, nullptr, status);
  });
}

std::string to_upper(std::string_view text) {
  if (all_ascii(text)) {
    std::string out(text);
    for (char& c : out) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
  }
  return map_case(text, [](icu::StringPiece s, icu::ByteSink& sink, UErrorCode& status) {
    icu::CaseMap::utf8ToUpper("", 0, s, sink, nullptr, status);
  });
}

}  // namespace corvane::unicode

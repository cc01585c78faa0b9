#pragma once
// A small XML well-formedness checker for the documents the renderer writes.
//
// check_xml(doc) returns an empty string for a well-formed document, else a
// message with the byte offset of the first fault. It checks: one root
// element (whitespace, comments and an XML declaration around it only);
// start and end tags nest and match; attribute values are quoted and
// attribute names unique within an element; "&" starts only the five
// predefined entities or a numeric character reference; no "<" in text or
// attribute values; characters are valid UTF-8 and allowed XML characters.
// Comments and CDATA sections are accepted inside elements. DTDs are not.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::testing {

namespace xml_check_detail {

class Checker {
 public:
  explicit Checker(std::string_view doc) : s_(doc) {}

  std::string run() {
    if (!valid_chars()) return error_;
    skip_misc(true);
    if (!error_.empty()) return error_;
    if (pos_ >= s_.size() || s_[pos_] != '<') return fail("expected the root element");
    if (!element()) return error_;
    skip_misc(false);
    if (!error_.empty()) return error_;
    if (pos_ != s_.size()) return fail("content after the root element");
    return {};
  }

 private:
  std::string fail(std::string_view what) {
    if (error_.empty()) error_ = std::string(what) + " at byte " + std::to_string(pos_);
    return error_;
  }

  bool valid_chars() {
    std::size_t i = 0;
    while (i < s_.size()) {
      const auto c = static_cast<unsigned char>(s_[i]);
      std::uint32_t cp = 0;
      std::size_t len = 1;
      if (c < 0x80) {
        cp = c;
      } else if ((c & 0xE0) == 0xC0) {
        cp = c & 0x1FU;
        len = 2;
      } else if ((c & 0xF0) == 0xE0) {
        cp = c & 0x0FU;
        len = 3;
      } else if ((c & 0xF8) == 0xF0) {
        cp = c & 0x07U;
        len = 4;
      } else {
        pos_ = i;
        fail("invalid UTF-8");
        return false;
      }
      if (i + len > s_.size()) {
        pos_ = i;
        fail("truncated UTF-8");
        return false;
      }
      for (std::size_t k = 1; k < len; ++k) {
        const auto cc = static_cast<unsigned char>(s_[i + k]);
        if ((cc & 0xC0) != 0x80) {
          pos_ = i;
          fail("invalid UTF-8");
          return false;
        }
        cp = (cp << 6) | (cc & 0x3FU);
      }
      const bool overlong = (len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) ||
                            (len == 4 && cp < 0x10000);
      if (overlong || !is_xml_char(cp)) {
        pos_ = i;
        fail("character not allowed in XML");
        return false;
      }
      i += len;
    }
    return true;
  }

  static bool is_xml_char(std::uint32_t cp) {
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
           (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
  }

  static bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
  static bool is_name_start(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' ||
           static_cast<unsigned char>(c) >= 0x80;
  }
  static bool is_name_char(char c) {
    return is_name_start(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
  }

  bool starts_with(std::string_view p) const { return s_.substr(pos_, p.size()) == p; }

  void skip_space() {
    while (pos_ < s_.size() && is_space(s_[pos_])) ++pos_;
  }

  // Whitespace, comments and (before the root only) one XML declaration.
  void skip_misc(bool prolog) {
    bool first = true;
    for (;;) {
      if (prolog && first && starts_with("<?xml")) {
        const std::size_t close = s_.find("?>", pos_);
        if (close == std::string_view::npos) {
          fail("unterminated XML declaration");
          return;
        }
        pos_ = close + 2;
      }
      first = false;
      skip_space();
      if (starts_with("<!--")) {
        if (!comment()) return;
        continue;
      }
      return;
    }
  }

  bool comment() {
    const std::size_t close = s_.find("-->", pos_ + 4);
    if (close == std::string_view::npos) return fail("unterminated comment"), false;
    if (s_.substr(pos_ + 4, close - pos_ - 4).find("--") != std::string_view::npos) {
      return fail("'--' inside a comment"), false;
    }
    pos_ = close + 3;
    return true;
  }

  bool name(std::string_view& out) {
    const std::size_t begin = pos_;
    if (pos_ >= s_.size() || !is_name_start(s_[pos_])) return fail("expected a name"), false;
    while (pos_ < s_.size() && is_name_char(s_[pos_])) ++pos_;
    out = s_.substr(begin, pos_ - begin);
    return true;
  }

  // After "&": one of the five entities or a numeric reference to an XML char.
  bool reference() {
    const std::size_t semi = s_.find(';', pos_);
    if (semi == std::string_view::npos || semi - pos_ > 12) return fail("bare '&'"), false;
    const std::string_view ref = s_.substr(pos_ + 1, semi - pos_ - 1);
    if (ref == "amp" || ref == "lt" || ref == "gt" || ref == "quot" || ref == "apos") {
      pos_ = semi + 1;
      return true;
    }
    if (ref.size() >= 2 && ref[0] == '#') {
      std::uint32_t cp = 0;
      const bool hex = ref[1] == 'x';
      const std::string_view digits = ref.substr(hex ? 2 : 1);
      if (digits.empty()) return fail("empty character reference"), false;
      for (char c : digits) {
        std::uint32_t v = 0;
        if (c >= '0' && c <= '9') {
          v = static_cast<std::uint32_t>(c - '0');
        } else if (hex && c >= 'a' && c <= 'f') {
          v = static_cast<std::uint32_t>(c - 'a' + 10);
        } else if (hex && c >= 'A' && c <= 'F') {
          v = static_cast<std::uint32_t>(c - 'A' + 10);
        } else {
          return fail("bad character reference"), false;
        }
        cp = cp * (hex ? 16 : 10) + v;
        if (cp > 0x10FFFF) return fail("character reference out of range"), false;
      }
      if (!is_xml_char(cp)) return fail("reference to a character not allowed in XML"), false;
      pos_ = semi + 1;
      return true;
    }
    return fail("unknown entity"), false;
  }

  bool attribute_value() {
    if (pos_ >= s_.size() || (s_[pos_] != '"' && s_[pos_] != '\'')) {
      return fail("unquoted attribute value"), false;
    }
    const char quote = s_[pos_++];
    while (pos_ < s_.size() && s_[pos_] != quote) {
      if (s_[pos_] == '<') return fail("'<' in an attribute value"), false;
      if (s_[pos_] == '&') {
        if (!reference()) return false;
      } else {
        ++pos_;
      }
    }
    if (pos_ >= s_.size()) return fail("unterminated attribute value"), false;
    ++pos_;
    return true;
  }

  // One element from its "<", iteratively so that deep nesting is fine.
  bool element() {
    if (starts_with("</") || starts_with("<!") || starts_with("<?")) {
      return fail("expected the root element"), false;
    }
    std::vector<std::string_view> open;
    std::vector<std::string_view> attrs;
    do {
      if (pos_ >= s_.size()) return fail("unclosed element"), false;
      if (s_[pos_] != '<') {
        if (s_[pos_] == '&') {
          if (!reference()) return false;
        } else if (s_[pos_] == '>' && starts_with(">") && pos_ >= 2 &&
                   s_.substr(pos_ - 2, 2) == "]]") {
          return fail("']]>' in text"), false;
        } else {
          ++pos_;
        }
        continue;
      }
      if (starts_with("<!--")) {
        if (!comment()) return false;
        continue;
      }
      if (starts_with("<![CDATA[")) {
        const std::size_t close = s_.find("]]>", pos_);
        if (close == std::string_view::npos) return fail("unterminated CDATA"), false;
        pos_ = close + 3;
        continue;
      }
      if (starts_with("</")) {
        pos_ += 2;
        std::string_view n;
        if (!name(n)) return false;
        if (open.empty() || open.back() != n) return fail("mismatched end tag"), false;
        skip_space();
        if (pos_ >= s_.size() || s_[pos_] != '>') return fail("expected '>'"), false;
        ++pos_;
        open.pop_back();
        continue;
      }
      ++pos_;
      std::string_view n;
      if (!name(n)) return false;
      attrs.clear();
      for (;;) {
        const std::size_t before = pos_;
        skip_space();
        if (pos_ >= s_.size()) return fail("unterminated start tag"), false;
        if (s_[pos_] == '>') {
          ++pos_;
          open.push_back(n);
          break;
        }
        if (starts_with("/>")) {
          pos_ += 2;
          break;
        }
        if (pos_ == before) return fail("expected whitespace before an attribute"), false;
        std::string_view a;
        if (!name(a)) return false;
        for (std::string_view seen : attrs) {
          if (seen == a) return fail("duplicate attribute"), false;
        }
        attrs.push_back(a);
        skip_space();
        if (pos_ >= s_.size() || s_[pos_] != '=') return fail("expected '='"), false;
        ++pos_;
        skip_space();
        if (!attribute_value()) return false;
      }
    } while (!open.empty());
    return true;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  std::string error_;
};

}  // namespace xml_check_detail

// Empty when `doc` is a well-formed XML document; otherwise what is wrong.
inline std::string check_xml(std::string_view doc) {
  return xml_check_detail::Checker(doc).run();
}

}  // namespace corvane::testing

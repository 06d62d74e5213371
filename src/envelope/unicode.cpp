#include "envelope/unicode.h"

#include <algorithm>
#include <cstdint>

namespace tovrel::envelope::unicode {
namespace {

bool in_table(const CodePointRange* table, std::size_t size, char32_t c) {
  const CodePointRange* end = table + size;
  // The first range that ends at or after c.
  const CodePointRange* it =
      std::lower_bound(table, end, c, [](const CodePointRange& r, char32_t v) { return r.last < v; });
  return it != end && it->first <= c;
}

// Decodes the character at text[i] (the text is known to be valid UTF-8) and advances i.
char32_t next_char(std::string_view text, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  std::size_t len = b0 < 0x80 ? 1 : b0 < 0xE0 ? 2 : b0 < 0xF0 ? 3 : 4;
  char32_t c = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
  for (std::size_t k = 1; k < len && i + k < text.size(); ++k) {
    c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
  }
  i += len;
  return c;
}

// Start of the character that ends at text[end - 1].
void append_hex_escape(char32_t c, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u{";
  char digits[8];
  int n = 0;
  do {
    digits[n++] = kHex[c & 0xF];
    c >>= 4;
  } while (c != 0);
  while (n > 0) out.push_back(digits[--n]);
  out.push_back('}');
}

}  // namespace

bool is_white_space(char32_t c) { return in_table(kWhiteSpace, kWhiteSpaceSize, c); }
bool is_grapheme_extend(char32_t c) { return in_table(kGraphemeExtend, kGraphemeExtendSize, c); }
bool is_printable(char32_t c) { return !in_table(kNotPrintable, kNotPrintableSize, c); }

std::string debug_quoted(std::string_view text) {
  std::string out = "\"";
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t start = i;
    const char32_t c = next_char(text, i);
    switch (c) {
      case U'"': out += "\\\""; continue;
      case U'\\': out += "\\\\"; continue;
      case U'\t': out += "\\t"; continue;
      case U'\r': out += "\\r"; continue;
      case U'\n': out += "\\n"; continue;
      case U'\0': out += "\\0"; continue;
      default: break;
    }
    if (is_grapheme_extend(c) || !is_printable(c)) {
      append_hex_escape(c, out);
    } else {
      out.append(text.substr(start, i - start));
    }
  }
  out.push_back('"');
  return out;
}

}  // namespace tovrel::envelope::unicode

#include "envelope/unicode.h"

#include <algorithm>

#include "base/hex.h"
#include "base/utf8.h"

namespace tovrel::envelope::unicode {
namespace {

bool in_table(const CodePointRange* table, std::size_t size, char32_t c) {
  const CodePointRange* end = table + size;
  // The first range that ends at or after c.
  const CodePointRange* it = std::lower_bound(
      table, end, c, [](const CodePointRange& r, char32_t v) { return r.last < v; });
  return it != end && it->first <= c;
}

// \u{hex}: lowercase digits, no leading zeros.
void append_hex_escape(char32_t c, std::string& out) {
  out += "\\u{";
  char digits[8];
  int n = 0;
  do {
    digits[n++] = base::hex_digit(c);
    c >>= 4;
  } while (c != 0);
  while (n > 0) out.push_back(digits[--n]);
  out.push_back('}');
}

}  // namespace

bool is_grapheme_extend(char32_t c) { return in_table(kGraphemeExtend, kGraphemeExtendSize, c); }
bool is_printable(char32_t c) { return !in_table(kNotPrintable, kNotPrintableSize, c); }

std::string debug_quoted(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const base::Utf8Char decoded = base::decode_utf8(text.substr(i));
    const char32_t c = decoded.code_point;
    const std::string_view character = text.substr(i, decoded.length);
    i += decoded.length;
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
      out.append(character);
    }
  }
  out.push_back('"');
  return out;
}

}  // namespace tovrel::envelope::unicode
